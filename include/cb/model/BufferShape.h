#pragma once
// Cb::BufferShape: the common base of the shapes whose channels are buffer
// channels (one contiguous array each): points, edges, triangles, tets. Its
// master channel is "index" (PointShape: "position"); every other channel is
// kept at the master's element count. Element positions come from the body's
// "Point.position" channel.

#include <cstdint>
#include <string>

#include "cb/model/Md5.h"
#include "cb/model/Shape.h"

namespace Cb {

class BufferShape : public Shape {
public:
    explicit BufferShape(std::string kind) : Shape(std::move(kind)) {}
    BufferShape(const BufferShape& other) = default;

    // Those of the first channel; 0 and true without channels.
    int64_t size() const override;
    bool empty() const override;
    // Shares the other shape's master in place of this one's (which need not
    // exist), then syncs. Throws the lookup failure when the other has none.
    void adoptMaster(const Shape& other) override;
    // Every other channel follows the master's element count, new elements
    // taking their defaults; a channel already at that count is left shared.
    // A channel that is not a buffer channel cannot follow and throws.
    void syncChannels() override;
    Channel* createChannel1f(const std::string& name, float defaultValue) override;
    Channel* createChannel1i(const std::string& name, int defaultValue) override;
    Channel* createChannel1i64(const std::string& name, int64_t defaultValue) override;
    Channel* createChannel2i(const std::string& name, const zt::vec2i& defaultValue) override;
    Channel* createChannel3f(const std::string& name, const zt::vec3f& defaultValue) override;
    Channel* createChannel3i(const std::string& name, const zt::vec3i& defaultValue) override;
    Channel* createChannel4i(const std::string& name, const zt::vec4i& defaultValue) override;
    Channel* masterChannel() const override;
    // "Point.position".
    std::string positionSource() const override;

    // MD5 over the raw bytes of the master's elements (zero bytes without a
    // master).
    virtual Md5Digest masterDigest() const;
    // Resizes the master (new elements not initialised), then syncs.
    virtual void resizeElements(int64_t n);

protected:
    // The master channel's name within the shape.
    virtual const char* masterName() const { return "index"; }

private:
    template <class T>
    Channel* addChannel(const std::string& name, const T& defaultValue);
};

}  // namespace Cb
