#pragma once
// Buffer channels: the channels of point, edge, triangle and tet shapes,
// whose values lie in one contiguous array in element order.
//
// BufferChannel<T> exists for int, float, int64, vec2i, vec2f, vec3i, vec3f,
// vec4i and vec4f; its type name is "buffer::" + the element word. The
// int64 class is written under "buffer::int64" but is not in the registry,
// so it cannot be recreated by name.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cb/model/Channel.h"
#include "zt/array1.h"
#include "zt/vec.h"

namespace Cb {

class BufferChannelBase : public Channel {
public:
    BufferChannelBase() = default;
    BufferChannelBase(const BufferChannelBase& other) = default;

    static const char* staticTypeName() { return "buffer::base"; }

    // Throws "Buffer-Channel sampling not yet implemented.".
    float sample(const zt::vec3f& position, const zt::tile_layout3* layout, int c) const override;

    // Resizes to master.size(); new elements take the default.
    virtual void resizeLike(const Channel& master) = 0;
    // Element i = source element i - start for i from start to size() - 1.
    // The source must be of the same class and hold enough elements.
    virtual void copyFrom(int64_t start, const BufferChannelBase& source) = 0;
    // Count := n; new elements are not initialised.
    virtual void resize(int64_t n) = 0;
    // The elements as raw bytes: elementBytes() each, size() of them.
    virtual void* rawData() = 0;
    virtual const void* rawData() const = 0;
    virtual size_t elementBytes() const = 0;
};

template <class T>
class BufferChannel : public BufferChannelBase {
public:
    using value_type = T;

    BufferChannel();
    explicit BufferChannel(const T& defaultValue);
    BufferChannel(const BufferChannel& other);

    static const char* staticTypeName();

    uint64_t size() const override;
    float memoryMB() const override;
    bool empty() const override;
    std::string typeName() const override;
    int typeCode() const override;
    Channel* clone() const override;
    zt::vec3f defaultValue3f() const override;
    zt::vec3f min3f() const override;
    zt::vec3f max3f() const override;
    zt::vec3f mean3f() const override;
    // vec3f: the value itself; index vectors: the centre of the points they
    // name in pointPositions; scalars throw "Invalid reference to Buffer
    // position". An index outside the channel throws.
    zt::vec3f position3f(int64_t index, const Channel* pointPositions) const override;
    float component(int64_t index, int c) const override;
    void write(ZtpWriter& writer, bool compress) override;
    // Default value, then the elements: a compressed array from version 14
    // on, a legacy array before. A failed read leaves the channel as it was.
    void read(ZtpReader& reader) override;
    void clear() override;

    void resizeLike(const Channel& master) override;
    void copyFrom(int64_t start, const BufferChannelBase& source) override;
    void resize(int64_t n) override;
    void* rawData() override;
    const void* rawData() const override;
    size_t elementBytes() const override;

    T* data() { return elements_.data(); }
    const T* data() const { return elements_.data(); }
    zt::array1<T>& elements() { return elements_; }
    const zt::array1<T>& elements() const { return elements_; }
    const T& defaultValue() const { return default_; }
    void setDefaultValue(const T& value) { default_ = value; }

private:
    const T& at(int64_t index) const;

    T default_{};
    zt::array1<T> elements_;
};

extern template class BufferChannel<int>;
extern template class BufferChannel<float>;
extern template class BufferChannel<int64_t>;
extern template class BufferChannel<zt::vec2i>;
extern template class BufferChannel<zt::vec2f>;
extern template class BufferChannel<zt::vec3i>;
extern template class BufferChannel<zt::vec3f>;
extern template class BufferChannel<zt::vec4i>;
extern template class BufferChannel<zt::vec4f>;

}  // namespace Cb
