#pragma once
// Field channels: one value (or one vector) per voxel of a body's tile
// layout, held in zt::field3<T> fields. FieldChannel1f, FieldChannel1i and
// FieldChannel1i64 hold one field, FieldChannel3f one per component.
//
// Lazy values: a channel read from a ZTP file keeps only the backgrounds,
// sample sets and file positions of its value records; the values stay in
// the file until an operation first needs them. Every operation that reads or
// writes values (size, statistics, component, sample, layout updates,
// writing, the field accessors, the step hooks) loads them first. A failed
// load leaves the channel unloaded, so the next access tries again.
//
// Every load is checked against the file: the values of each record must
// lie between its value position and its end position, and the chunked
// arrays must hold exactly the counts they announce. The counts are not
// checked against any layout, since the channel learns its layout only when
// it is used with one: component() refuses an index its field does not hold,
// sample() treats a missing voxel as background, and updateLayout() resizes
// the fields to the layout.
//
// The update attributes (mode, flags A-E, float) are set by the body
// signature's channel qualifiers and stored with the channel.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "cb/encoding/ZtpStream.h"
#include "cb/model/Channel.h"
#include "zt/field3.h"
#include "zt/omp_lock.h"
#include "zt/vec.h"

namespace Cb {

// Time-step update modes; other values leave the channel alone.
enum FieldUpdateMode : int32_t {
    kFieldUpdateKeep = 0,
    kFieldUpdateReset = 1,
    kFieldUpdateTransport = 2,
    kFieldUpdateParticleSplat = 3,
};

// The five flag bytes. A: high-quality transport; B: the splat divides by
// its weights; C: the splat extends its values into unreached voxels; D and E
// are carried along for other users.
enum FieldFlag : int {
    kFieldFlagA = 0,
    kFieldFlagB = 1,
    kFieldFlagC = 2,
    kFieldFlagD = 3,
    kFieldFlagE = 4,
    kFieldFlagCount = 5,
};

// First file version whose field channels carry update mode and flags A-C,
// and the one that adds flags D, E and the float attribute.
constexpr int32_t kFieldModeVersion = 8;
constexpr int32_t kFieldAttributeVersion = 11;

class FieldChannelBase : public Channel {
public:
    FieldChannelBase();
    // Copies the file link (its own copy of the name), the loaded flag, the
    // attributes and the pending compaction; the copy gets its own lock.
    FieldChannelBase(const FieldChannelBase& other);
    ~FieldChannelBase() override;

    static const char* staticTypeName() { return "field::base"; }

    // Fine value count (of the first component field).
    uint64_t size() const override;
    // Capacity of the fine values of every component field, in MB. Does not
    // load: it reports what is in memory.
    float memoryMB() const override;
    bool empty() const override;
    // The backgrounds, widened.
    zt::vec3f defaultValue3f() const override;
    // Over the fine values, component field by component field; without fine
    // values the background.
    zt::vec3f min3f() const override;
    zt::vec3f max3f() const override;
    zt::vec3f mean3f() const override;
    // Throws "Invalid reference to Field.position".
    zt::vec3f position3f(int64_t index, const Channel* pointPositions) const override;
    // Index >= 0 the fine value, < 0 the coarse value at -index, of component
    // field c (scalar channels ignore c; a vector component the channel lacks
    // gives 0). An index the field does not hold throws.
    float component(int64_t index, int c) const override;
    // Trilinear sample of component field c, starting from the background;
    // without a layout the background.
    float sample(const zt::vec3f& position, const zt::tile_layout3* layout, int c) const override;
    // Resizes every value field to the layout and remembers its empty slots
    // for the compaction that follows.
    void updateLayout(const zt::tile_layout3& layout) override;
    // Compacts every value field as the layout reported at the last
    // updateLayout will compact its lists; a field not sized to those lists
    // is left alone, and the report is forgotten afterwards.
    void compactBlocks() override;
    // Header, update mode, flag A, 0, flags B-E (seven i32), the float, then
    // one field values record per component field.
    void write(ZtpWriter& writer, bool compress) override;
    // Remembers the file and version, reads the attributes by version and
    // each record's background, sample set and end position, and skips the
    // values. A failed read leaves the values empty.
    void read(ZtpReader& reader) override;
    // No values any more, and no file to load them from.
    void clear() override;

    // Opens the channel's file for lazy loading. Throws "read_ztp(<file>)
    // failed: Cannot open file: <system text>".
    virtual FilePtr openFile() const;

    // Loads the values when a file is set and they are not loaded yet.
    void ensureLoaded() const;
    // False while values wait in the file.
    bool loaded() const { return !file_ || loaded_.load(std::memory_order_acquire) != 0; }
    // The file the values come from; null for channels not read from one.
    const std::string* fileName() const { return file_.get(); }
    uint32_t fileVersion() const { return fileVersion_; }
    // Per component field, where its stored fine values begin (a chunked
    // compressed array) and where its values record ends; empty for a
    // channel not read from a file.
    const std::vector<int64_t>& valuePositions() const { return valuePositions_; }
    const std::vector<int64_t>& endPositions() const { return endPositions_; }

    int32_t updateMode() const { return updateMode_; }
    void setUpdateMode(int32_t mode) { updateMode_ = mode; }
    bool flag(FieldFlag which) const { return flags_[which] != 0; }
    void setFlag(FieldFlag which, bool on) { flags_[which] = on ? 1 : 0; }
    float attribute() const { return attribute_; }
    void setAttribute(float value) { attribute_ = value; }

    // Guards writers of the values from several threads; lazy loading takes
    // it too, so hold it only around value writes.
    zt::omp_lock& lock() const { return *lock_; }

protected:
    using FieldRef = std::variant<zt::field3<float>*, zt::field3<int>*, zt::field3<int64_t>*>;

    // The component fields in file order. The fields are value caches of a
    // lazily loaded channel, so const operations hand them out as well.
    virtual int valueFieldCount() const = 0;
    virtual FieldRef valueField(int k) const = 0;
    // Called after read() set a field's background from the file.
    virtual void backgroundRead() {}

    // The empty slots the last updateLayout saw; compactBlocks follows them.
    struct SlotReport {
        int64_t fineSlots = -1;
        int64_t coarseSlots = -1;
        int64_t voxelsPerTile = 0;
        std::vector<int64_t> emptyFine;    // descending
        std::vector<int64_t> emptyCoarse;  // descending
    };
    const SlotReport& slotReport() const { return slots_; }
    // Compacts one field after the report (when it is sized to it).
    template <class T>
    void compactField(zt::field_base3<T>& field) const;

private:
    // f(field3<T>* field, int k) for every component field.
    template <class F>
    void forEachField(F&& f) const;
    void loadValues() const;
    // Minimum (0), maximum (1) or mean (2) of each component's fine values.
    zt::vec3f statistic(int which) const;
    // The component field that answers for component c; -1 for none.
    int fieldOfComponent(int c) const;

    std::unique_ptr<std::string> file_;
    mutable std::atomic<uint32_t> loaded_{0};
    uint32_t fileVersion_ = 0;
    int32_t updateMode_ = kFieldUpdateKeep;
    uint8_t flags_[kFieldFlagCount] = {0, 0, 0, 0, 0};
    float attribute_ = 0.0f;
    std::unique_ptr<zt::omp_lock> lock_;
    // Per component field: where its fine values start and its record ends.
    std::vector<int64_t> valuePositions_;
    std::vector<int64_t> endPositions_;
    SlotReport slots_;
};

namespace detail {
// Walking from the end, every empty slot takes the values of the current last
// slot and the values shrink by one slot, as the layout's lists do. Values
// not sized to the slots are left alone; at least `keep` slots remain.
template <class T>
void compactSlots(zt::array1<T>& values, const std::vector<int64_t>& emptyDescending, int64_t slots,
                  int64_t perSlot, int64_t keep, const T& fill) {
    if (values.count() != slots * perSlot) return;
    int64_t remaining = slots;
    for (const int64_t k : emptyDescending) {
        const int64_t last = remaining - 1;
        if (k != last) std::copy_n(values.data() + last * perSlot, perSlot, values.data() + k * perSlot);
        remaining = last;
    }
    values.resize(std::max(remaining, keep) * perSlot, fill);
}
}  // namespace detail

template <class T>
void FieldChannelBase::compactField(zt::field_base3<T>& field) const {
    if (slots_.fineSlots < 0) return;
    detail::compactSlots(field.fineValues(), slots_.emptyFine, slots_.fineSlots, slots_.voxelsPerTile, 0,
                         field.background());
    detail::compactSlots(field.coarseValues(), slots_.emptyCoarse, slots_.coarseSlots, 1, 1, field.background());
}

class FieldChannel1f : public FieldChannelBase {
public:
    FieldChannel1f() = default;
    explicit FieldChannel1f(float background, int sampleSet = 0);
    FieldChannel1f(const FieldChannel1f& other);

    static const char* staticTypeName() { return "field::float"; }
    std::string typeName() const override { return staticTypeName(); }
    int typeCode() const override;
    Channel* clone() const override;
    // With update mode 3, particle splatting: the field is reset to the
    // body's layout and background, the values of the body's float particle
    // channel of the same name are splatted into it (particles whose droplet
    // value exceeds the body's "Droplet Threshold", 1.0 without one, stay
    // out), divided by their weights with flag B and extended into unreached
    // voxels with flag C. Throws "Cannot particle-splat field-channel '<name>':
    // no matching particle-channel found in body" without that channel.
    void updateStep(const FrameTime& time, const Body& body) override;

    // The values, loaded first.
    zt::field3<float>& field();
    const zt::field3<float>& field() const;

protected:
    int valueFieldCount() const override { return 1; }
    FieldRef valueField(int) const override { return &field_; }

    mutable zt::field3<float> field_;
};

class FieldChannel1i : public FieldChannelBase {
public:
    FieldChannel1i() = default;
    explicit FieldChannel1i(int background);
    FieldChannel1i(const FieldChannel1i& other);

    static const char* staticTypeName() { return "field::int"; }
    std::string typeName() const override { return staticTypeName(); }
    int typeCode() const override;
    Channel* clone() const override;
    // Requires update mode 1 ("Int Field-Channel '<name>' requires 'Reset'
    // Time-Step Update"); every value becomes the background on the body's
    // layout.
    void updateStep(const FrameTime& time, const Body& body) override;

    zt::field3<int>& field();
    const zt::field3<int>& field() const;

protected:
    int valueFieldCount() const override { return 1; }
    FieldRef valueField(int) const override { return &field_; }

private:
    mutable zt::field3<int> field_;
};

class FieldChannel1i64 : public FieldChannelBase {
public:
    FieldChannel1i64() = default;
    explicit FieldChannel1i64(int64_t background);
    FieldChannel1i64(const FieldChannel1i64& other);

    static const char* staticTypeName() { return "field::int64"; }
    std::string typeName() const override { return staticTypeName(); }
    int typeCode() const override;
    Channel* clone() const override;
    // As FieldChannel1i, with "Int64 Field-Channel ..." in the message.
    void updateStep(const FrameTime& time, const Body& body) override;

    zt::field3<int64_t>& field();
    const zt::field3<int64_t>& field() const;

protected:
    int valueFieldCount() const override { return 1; }
    FieldRef valueField(int) const override { return &field_; }

private:
    mutable zt::field3<int64_t> field_;
};

class FieldChannel3f : public FieldChannelBase {
public:
    FieldChannel3f() = default;
    // Component c of the background goes to component field c.
    explicit FieldChannel3f(const zt::vec3f& background);
    FieldChannel3f(const FieldChannel3f& other);

    static const char* staticTypeName() { return "field::vec3f"; }
    std::string typeName() const override { return staticTypeName(); }
    int typeCode() const override;
    Channel* clone() const override;
    // With update mode 3, particle splatting of the body's vec3f particle
    // channel of the same name, component by component, each component on
    // its own field's sample set (see FieldChannel1f).
    void updateStep(const FrameTime& time, const Body& body) override;

    // Component field c (0, 1, 2), loaded first.
    zt::field3<float>& field(int c);
    const zt::field3<float>& field(int c) const;

protected:
    int valueFieldCount() const override { return 3; }
    FieldRef valueField(int k) const override { return &fields_[k]; }

private:
    mutable zt::field3<float> fields_[3];
};

}  // namespace Cb
