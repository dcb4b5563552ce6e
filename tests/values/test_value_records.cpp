// Value and enumerated-group records: exact bytes and round trips.
#include <gtest/gtest.h>

#include "ByteBuilder.h"
#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/qel/QelContext.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueIo.h"
#include "cb/values/ValueTypes.h"
#include "zt/ztx.h"

using namespace Cb;
using testsupport::ByteBuilder;

namespace {

class ValueRecords : public ::testing::Test {
protected:
    void SetUp() override {
        QelContext::createGlobal();
        registerValueTypes();
    }
    void TearDown() override {
        releaseValueTypes();
        QelContext::destroyGlobal();
    }

    template <class Write>
    std::vector<uint8_t> bytesOf(Write write) {
        ZtpWriter w;
        w.openStream(dir.file("out.ztp"));
        write(w.stream());
        w.close();
        return testsupport::readBytes(dir.file("out.ztp"));
    }

    // A reader positioned at the start of `bytes`.
    ZtpReader& readerOf(const ByteBuilder& bytes) {
        testsupport::writeFile(dir.file("in.ztp"), bytes.data());
        reader = std::make_unique<ZtpReader>();
        reader->openStream(dir.file("in.ztp"), 16);
        return *reader;
    }

    testsupport::TempDir dir;
    std::unique_ptr<ZtpReader> reader;
};

}  // namespace

TEST_F(ValueRecords, ThreeComponentRecordHoldsThreeStrings) {
    Value3f g("Gravity", {"0", "-9.8", ""});
    EXPECT_EQ(ByteBuilder().str("value3f").str("Gravity").str("0").str("-9.8").str("").data(),
              bytesOf([&](ZtpOutput& out) { writeValue(out, g); }));
}

TEST_F(ValueRecords, EnumRecordHoldsAGroupAndOneString) {
    EnumGroup motion("MotionTypeEnum", {"Dynamic", "Unsolved"});
    Value1e v("Motion Type", &motion, "Unsolved");
    EXPECT_EQ(ByteBuilder()
                  .str("enum")
                  .str("Motion Type")
                  .str("MotionTypeEnum")
                  .i32(2)
                  .str("Dynamic")
                  .str("Unsolved")
                  .str("Unsolved")
                  .data(),
              bytesOf([&](ZtpOutput& out) { writeValue(out, v); }));
}

TEST_F(ValueRecords, ThreadCountAndFpsAreWrittenAsPlainIntegers) {
    FpsValue fps("Rate");
    ThreadCountValue threads("Threads");
    EXPECT_EQ(ByteBuilder().str("value1i").str("Rate").str("24").str("value1i").str("Threads").str("2").data(),
              bytesOf([&](ZtpOutput& out) {
                  writeValue(out, fps);
                  writeValue(out, threads);
              }));
    auto back = readValue(readerOf(ByteBuilder().str("value1i").str("Rate").str("24")).stream());
    EXPECT_EQ("value1i", back->typeName());
    EXPECT_EQ(nullptr, dynamic_cast<FpsValue*>(back.get()));
    EXPECT_EQ("24", back->expression(0));
}

TEST_F(ValueRecords, ConstructionGroupReadsLiveAsEmpty) {
    auto construction =
        readEnumGroup(readerOf(ByteBuilder().str("Construction").i32(2).str("Live").str("Other")).stream());
    EXPECT_EQ((std::vector<std::string>{"Empty", "Other"}), construction->names());
    auto other = readEnumGroup(readerOf(ByteBuilder().str("Stage").i32(1).str("Live")).stream());
    EXPECT_EQ((std::vector<std::string>{"Live"}), other->names());
    auto none = readEnumGroup(readerOf(ByteBuilder().str("Empty").i32(-3)).stream());
    EXPECT_EQ(0, none->count());

    // The stored selection "Live" is kept and passes the check.
    auto v = readValue(readerOf(ByteBuilder()
                                    .str("enum")
                                    .str("State")
                                    .str("Construction")
                                    .i32(2)
                                    .str("Live")
                                    .str("Full")
                                    .str("Live"))
                           .stream());
    auto* e = static_cast<Value1e*>(v.get());
    EXPECT_EQ("Live", e->selected());
    EXPECT_EQ("Construction", e->group()->name());
    EXPECT_TRUE(e->ownsGroup());
}

TEST_F(ValueRecords, UnknownEntryOrTypeFailsTheRead) {
    try {
        readValue(readerOf(ByteBuilder().str("enum").str("M").str("G").i32(1).str("A").str("B")).stream());
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ("Enumerated name 'B' does not exist in group 'G'", e.what());
    }
    try {
        readValue(readerOf(ByteBuilder().str("vec2f").str("M").str("1")).stream());
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ("Unknown value type: 'vec2f'", e.what());
    }
    try {
        readValue(readerOf(ByteBuilder().str("value1f").str("M").str("1 +")).stream());
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ("Attempting to construct NULL-object longname 'M'", e.what());
    }
    try {
        readValue(readerOf(ByteBuilder().str("value3i").str("M").str("1")).stream());
        FAIL();
    } catch (const ztx::base& e) {
        EXPECT_STREQ("Error reading ztp value", e.what());
    }
}

TEST_F(ValueRecords, EveryTypeRoundTrips) {
    std::vector<std::unique_ptr<ValueBase>> values;
    values.emplace_back(new Value1i("I", {"1 + frame"}));
    values.emplace_back(new Value1i64("L", {"0x10"}));
    values.emplace_back(new Value1f("F", {"sin(time)"}));
    values.emplace_back(new Value3f("V", {"1", "2", "3"}));
    values.emplace_back(new Value3i("W", {"-1", "0", "frame"}));
    values.emplace_back(new Value1s("S", {"take `frame`"}));
    EnumGroup group("Modes", {"A", "B"});
    values.emplace_back(new Value1e("E", &group, "B"));
    values.emplace_back(new ValueToggle("T", "On"));
    values.emplace_back(new Value1e("Blank"));
    auto bytes = bytesOf([&](ZtpOutput& out) {
        for (const auto& v : values) writeValue(out, *v);
    });
    ByteBuilder b;
    b.bytes(bytes);
    ZtpReader& r = readerOf(b);
    for (const auto& v : values) {
        auto back = readValue(r.stream());
        EXPECT_EQ(v->typeName(), back->typeName());
        EXPECT_EQ(v->ownName(), back->ownName());
        for (int c = 0; c < v->componentCount(); ++c) EXPECT_EQ(v->expression(c), back->expression(c));
    }
    EXPECT_EQ(0, r.remaining());
}
