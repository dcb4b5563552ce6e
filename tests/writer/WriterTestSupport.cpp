#include "WriterTestSupport.h"

#include <cstring>

#include "CaptureOutput.h"
#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "zt/tile_layout3.h"

namespace writertest {

void WriterTest::SetUp() {
    testsupport::CaptureStderr quiet;  // the two missing signature folders
    Cb::begin(true);
}

void WriterTest::TearDown() { Cb::end(); }

std::string WriterTest::write(const std::string& path, const std::vector<Cb::Body*>& bodies,
                              const std::string& selection, bool compress) {
    testsupport::CaptureStderr err;
    Cb::ZtpWriter writer;
    writer.open(path);
    for (Cb::Body* body : bodies) writer.writeBody(*body, selection, compress);
    writer.close();
    return err.finish();
}

std::unique_ptr<Cb::ZtpReader> WriterTest::read(const std::string& path, std::string* log) {
    testsupport::CaptureStderr err;
    auto reader = std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    const std::string text = err.finish();
    if (log) *log = text;
    return reader;
}

std::string warningLine(const std::string& text) { return "Corix ** WARNING ** : " + text + "\n"; }

namespace {

std::vector<zt::vec3i> coordinates(const zt::array1<zt::vec3i>& a) { return {a.begin(), a.end()}; }

void expectSameValue(const Cb::ValueBase& written, const Cb::ValueBase& read) {
    SCOPED_TRACE("value " + written.ownName());
    EXPECT_EQ(written.ownName(), read.ownName());
    EXPECT_EQ(written.typeName(), read.typeName());
    ASSERT_EQ(written.componentCount(), read.componentCount());
    for (int c = 0; c < written.componentCount(); ++c) EXPECT_EQ(written.expression(c), read.expression(c));
    // Flags are not stored: what comes back is a value as the registry makes it.
    EXPECT_FALSE(read.readOnly());
    EXPECT_FALSE(read.hidden());
    if (const auto* e = dynamic_cast<const Cb::Value1e*>(&written)) {
        const auto* r = dynamic_cast<const Cb::Value1e*>(&read);
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(e->selected(), r->selected());
        if (!e->group()) {
            // Saved as an empty group record, it comes back as an empty group.
            EXPECT_TRUE(!r->group() || r->group()->count() == 0);
        } else {
            ASSERT_NE(nullptr, r->group());
            EXPECT_EQ(e->group()->name(), r->group()->name());
            if (e->group()->name() != "Construction") {
                EXPECT_EQ(e->group()->names(), r->group()->names());
            }
        }
    }
}

template <class T>
void expectSameParticleData(const Cb::ParticleChannelBase& written, const Cb::ParticleChannelBase& read) {
    const auto& w = dynamic_cast<const Cb::ParticleChannel<T>&>(written);
    const auto& r = dynamic_cast<const Cb::ParticleChannel<T>&>(read);
    EXPECT_EQ(0, std::memcmp(&w.defaultValue(), &r.defaultValue(), sizeof(T)));
}

void expectSameParticles(const Cb::ParticleChannelBase& written, const Cb::ParticleChannelBase& read) {
    read.makeResident();
    const zt::block3_array_base& w = written.storage();
    const zt::block3_array_base& r = read.storage();
    ASSERT_EQ(w.listCount(0), r.listCount(0));
    ASSERT_EQ(w.listCount(1), r.listCount(1));
    for (int64_t g = 0; g < w.blockCount(); ++g) {
        const auto a = written.blockBytes(g), b = read.blockBytes(g);
        ASSERT_EQ(a.size(), b.size()) << "block " << g;
        EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin())) << "block " << g;
        const zt::block3_base* wb = w.residentBlock(g);
        const zt::block3_base* rb = r.residentBlock(g);
        ASSERT_EQ(wb != nullptr, rb != nullptr) << "block " << g;
        if (wb) {
            EXPECT_EQ(wb->coord(), rb->coord()) << "block " << g;
        }
    }
    switch (written.typeCode()) {
        case Cb::kTypeInt8: expectSameParticleData<int8_t>(written, read); break;
        case Cb::kTypeInt: expectSameParticleData<int>(written, read); break;
        case Cb::kTypeFloat: expectSameParticleData<float>(written, read); break;
        case Cb::kTypeVec3i: expectSameParticleData<zt::vec3i>(written, read); break;
        case Cb::kTypeVec3f: expectSameParticleData<zt::vec3f>(written, read); break;
        case Cb::kTypeInt64: expectSameParticleData<int64_t>(written, read); break;
        default: ADD_FAILURE() << "particle type code " << written.typeCode();
    }
    if (const auto* ids = dynamic_cast<const Cb::ParticleChannelId64*>(&written)) {
        const auto* back = dynamic_cast<const Cb::ParticleChannelId64*>(&read);
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(const_cast<Cb::ParticleChannelId64*>(ids)->nextId(),
                  const_cast<Cb::ParticleChannelId64*>(back)->nextId());
    }
}

void expectSameBuffer(const Cb::BufferChannelBase& written, const Cb::BufferChannelBase& read) {
    ASSERT_EQ(written.size(), read.size());
    ASSERT_EQ(written.elementBytes(), read.elementBytes());
    const size_t bytes = written.size() * written.elementBytes();
    if (bytes > 0) {
        EXPECT_EQ(0, std::memcmp(written.rawData(), read.rawData(), bytes));
    }
}

template <class T>
void expectSameField(const zt::field3<T>& w, const zt::field3<T>& r) {
    EXPECT_EQ(w.background(), r.background());
    EXPECT_EQ(w.sampleSet(), r.sampleSet());
    ASSERT_EQ(w.fineValues().count(), r.fineValues().count());
    ASSERT_EQ(w.coarseValues().count(), r.coarseValues().count());
    EXPECT_TRUE(std::equal(w.fineValues().begin(), w.fineValues().end(), r.fineValues().begin()));
    EXPECT_TRUE(std::equal(w.coarseValues().begin(), w.coarseValues().end(), r.coarseValues().begin()));
}

template <class C>
bool compareFieldsAs(const Cb::FieldChannelBase& written, const Cb::FieldChannelBase& read) {
    const auto* w = dynamic_cast<const C*>(&written);
    if (!w) return false;
    const auto* r = dynamic_cast<const C*>(&read);
    EXPECT_NE(nullptr, r);
    if (!r) return true;
    if constexpr (std::is_same_v<C, Cb::FieldChannel3f>) {
        for (int c = 0; c < 3; ++c) expectSameField(w->field(c), r->field(c));
    } else {
        expectSameField(w->field(), r->field());
    }
    return true;
}

void expectSameFields(const Cb::FieldChannelBase& written, const Cb::FieldChannelBase& read) {
    EXPECT_EQ(written.updateMode(), read.updateMode());
    for (int f = 0; f < Cb::kFieldFlagCount; ++f)
        EXPECT_EQ(written.flag(Cb::FieldFlag(f)), read.flag(Cb::FieldFlag(f))) << "flag " << f;
    EXPECT_EQ(written.attribute(), read.attribute());
    EXPECT_FALSE(read.loaded());  // the values wait in the file until used
    const bool compared = compareFieldsAs<Cb::FieldChannel1f>(written, read) ||
                          compareFieldsAs<Cb::FieldChannel1i>(written, read) ||
                          compareFieldsAs<Cb::FieldChannel1i64>(written, read) ||
                          compareFieldsAs<Cb::FieldChannel3f>(written, read);
    EXPECT_TRUE(compared) << written.typeName();
}

}  // namespace

void expectSameChannel(const Cb::Channel& written, const Cb::Channel& read) {
    SCOPED_TRACE("channel " + written.name() + " (" + written.typeName() + ")");
    EXPECT_EQ(written.typeName(), read.typeName());
    EXPECT_EQ(written.name(), read.name());
    EXPECT_EQ(written.storedCount(), read.storedCount());
    EXPECT_EQ(written.size(), read.storedCount());
    EXPECT_EQ(written.storedMin(), read.storedMin());
    EXPECT_EQ(written.storedMax(), read.storedMax());
    EXPECT_EQ(written.storedMean(), read.storedMean());
    EXPECT_EQ(written.defaultValue3f(), read.defaultValue3f());
    if (const auto* p = dynamic_cast<const Cb::ParticleChannelBase*>(&written)) {
        const auto* r = dynamic_cast<const Cb::ParticleChannelBase*>(&read);
        ASSERT_NE(nullptr, r);
        expectSameParticles(*p, *r);
    } else if (const auto* b = dynamic_cast<const Cb::BufferChannelBase*>(&written)) {
        const auto* r = dynamic_cast<const Cb::BufferChannelBase*>(&read);
        ASSERT_NE(nullptr, r);
        expectSameBuffer(*b, *r);
    } else if (const auto* f = dynamic_cast<const Cb::FieldChannelBase*>(&written)) {
        const auto* r = dynamic_cast<const Cb::FieldChannelBase*>(&read);
        ASSERT_NE(nullptr, r);
        expectSameFields(*f, *r);
    } else {
        ADD_FAILURE() << "unknown channel branch";
    }
    EXPECT_EQ(written.size(), read.size());
}

void expectSameValues(const Cb::Body& written, const Cb::Body& read) {
    ASSERT_EQ(written.sectionCount(), read.sectionCount());
    for (int s = 0; s < written.sectionCount(); ++s) {
        const Cb::ValueSection& w = *written.sectionAt(s);
        const Cb::ValueSection& r = *read.sectionAt(s);
        SCOPED_TRACE("section " + w.name());
        EXPECT_EQ(w.name(), r.name());
        ASSERT_EQ(w.valueCount(), r.valueCount());
        for (int v = 0; v < w.valueCount(); ++v) expectSameValue(*w.valueAt(v), *r.valueAt(v));
    }
}

void expectSameLayout(const Cb::Body& written, const Cb::Body& read) {
    const zt::tile_layout3& w = written.layout();
    const zt::tile_layout3& r = read.layout();
    EXPECT_EQ(w.cellSize(), r.cellSize());
    EXPECT_EQ(w.tileSize(), r.tileSize());
    EXPECT_EQ(coordinates(w.fineCoordinates()), coordinates(r.fineCoordinates()));
    EXPECT_EQ(coordinates(w.coarseCoordinates()), coordinates(r.coarseCoordinates()));
}

std::vector<std::string> channelNames(const Cb::Body& body, const std::string& kind) {
    std::vector<std::string> names;
    const Cb::Shape& shape = *body.shape(kind);
    for (int c = 0; c < shape.channelCount(); ++c) names.push_back(shape.channel(c)->name());
    return names;
}

void expectSameShapes(const Cb::Body& written, const Cb::Body& read) {
    std::vector<std::string> wk, rk;
    for (const auto& [kind, shape] : written.shapes())
        if (shape->channelCount() > 0) wk.push_back(kind);
    for (const auto& [kind, shape] : read.shapes()) rk.push_back(kind);
    ASSERT_EQ(wk, rk);
    for (const std::string& kind : wk) {
        SCOPED_TRACE("shape " + kind);
        const Cb::Shape& w = *written.shape(kind);
        const Cb::Shape& r = *read.shape(kind);
        EXPECT_EQ(w.name(), r.name());
        ASSERT_EQ(channelNames(written, kind), channelNames(read, kind));
        for (int c = 0; c < w.channelCount(); ++c) expectSameChannel(*w.channel(c), *r.channel(c));
    }
}

void expectSameBody(const Cb::Body& written, const Cb::Body& read) {
    EXPECT_EQ(written.name(), read.name());
    EXPECT_EQ(written.signatureName(), read.signatureName());
    EXPECT_EQ(written.extraText(), read.extraText());
    EXPECT_EQ(0, std::memcmp(written.transform(), read.transform(), 16 * sizeof(float)));
    expectSameValues(written, read);
    expectSameLayout(written, read);
    expectSameShapes(written, read);
}

}  // namespace writertest
