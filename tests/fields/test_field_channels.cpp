// Field shape and field channels in memory: what the shape creates and
// refuses, statistics (the mean the same on any team), copies and the
// fluid-distance background rule.
#include <functional>

#include "CaptureOutput.h"
#include "FieldTestSupport.h"
#include "ScopedThreads.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/Body.h"

using namespace fieldtest;

TEST(FieldShapeChannels, SpecialAndQualifiedNamesTheFirstChannelsSizeAndTheRefusals) {
    // The hooks' tests make the solid distance by name; the writer's round trip
    // checks the particle count's fixed background and sample set.
    Cb::FieldShape shape(true);  // a field shape has no master to create
    EXPECT_EQ("field::particle-count", shape.createChannel1f("particle-count", 5)->typeName());
    EXPECT_EQ("field::fluid-distance", shape.createChannel1f("Field.fluid-distance", 5)->typeName());
    EXPECT_EQ("fluid-distance", shape.channel(1)->name());
    EXPECT_EQ("Field.pressure", shape.createChannel1f("Field.pressure", 2.5f)->name());
    EXPECT_EQ(10, shape.channel(0)->hookPriority());  // particle counts before the other hooks
    auto layout = twoTileLayout(2);
    shape.updateLayout(*layout);
    EXPECT_EQ(16, shape.size());

    Cb::FieldChannel1i64 big(0);
    big.setName("big");
    big.updateLayout(*layout);
    Cb::FieldChannelSolidDistance solid;
    const Cb::Body ghost("Ghost");
    const std::string held = " is not held by field-channel 'big' (16 fine and 35 coarse values)";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { shape.createChannel3i("cells", {1, 2, 3}); }, "Cannot create field3i channel"},
        {[&] { shape.createChannel2i("e", {0, 1}); }, "2i channels not supported in a Field-Shape"},
        {[&] { shape.createChannel4i("t", {0, 1, 2, 3}); }, "4i channels not supported in a Field-Shape"},
        {[&] { shape.createChannel1i("particle-count", 0); },
         "Cannot create channel 'particle-count' in Field-Shape: channel already exists (of type field::particle-count)"},
        {[] { delete Cb::createChannel("field::base"); }, "Unknown channel type: 'field::base'"},
        {[&] { big.component(16, 0); }, "Voxel index 16" + held},
        {[&] { big.component(-35, 0); }, "Voxel index -35" + held},
        {[&] { big.component(INT64_MIN, 0); }, "Voxel index -9223372036854775808" + held},
        {[&] { big.component(-34, 0); }, "(no failure)"},
        {[&] { big.position3f(0, nullptr); }, "Invalid reference to Field.position"},
        {[&] { solid.removeOccluder(&ghost); },
         "FieldChannelSolidDistance (solid-distance): Could not clear occluder 'Ghost'"},
    };
    for (const auto& [action, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(expected, messageOf(action));
    }
    EXPECT_EQ(3, shape.channelCount());
}

TEST(FieldChannelValues, StatisticsPerComponentDeepCopiesAndTheFarFluidBackground) {
    auto layout = twoTileLayout(2);
    Cb::FieldChannel3f v({1, 2, 3});
    v.setFlag(Cb::kFieldFlagB, true);
    v.updateLayout(*layout);
    EXPECT_EQ(0.0f, v.component(5, 3));  // a component the vector lacks
    v.field(0).at(5) = 10;
    v.field(1).at(2) = -8;
    EXPECT_EQ((zt::vec3f{1, -8, 3}), v.min3f());
    EXPECT_EQ((zt::vec3f{10, 2, 3}), v.max3f());
    EXPECT_EQ((zt::vec3f{25.0f / 16, 22.0f / 16, 3}), v.mean3f());
    EXPECT_EQ((zt::vec3f{4, 4, 4}), Cb::FieldChannel1i(4).mean3f());  // no values: the background
    std::unique_ptr<Cb::Channel> copy(v.clone());
    auto& w = dynamic_cast<Cb::FieldChannel3f&>(*copy);
    EXPECT_TRUE(w.flag(Cb::kFieldFlagB));
    w.field(0).at(5) = 8;
    EXPECT_EQ(10.0f, v.component(5, 0));

    // The fluid distance keeps its far background whatever is copied, updated or replaced.
    Cb::FieldChannelFluidDistance fluid;
    fluid.field().setBackground(5.0f);
    zt::field3<float> other = sizedField(*layout, -2.5f);
    other.at(3) = 1.0f;
    testsupport::CaptureStderr err;
    std::unique_ptr<Cb::Channel> fluidCopy(fluid.clone());
    fluid.updateLayout(*layout);
    EXPECT_EQ(100000.0f, fluid.field().at(3));
    fluid.replaceField(other);
    std::unique_ptr<Cb::Channel> quiet(fluid.clone());  // a far background is taken without a word
    const auto warning = [](const std::string& what, const char* value) {
        return "Corix ** WARNING ** : Ignored attempt to " + what + " Field.fluid-distance  with background value " +
               value + "\n";
    };
    EXPECT_EQ(warning("construct", "5") + warning("update", "5") + warning("replace", "-2.5"), err.finish());
    EXPECT_EQ(100000.0f, static_cast<Cb::FieldChannelFluidDistance&>(*fluidCopy).field().background());
    EXPECT_EQ(100000.0f, fluid.field().background());
    EXPECT_EQ(1.0f, fluid.component(3, 0));
}

// The stored mean of a large field: partial sums whose rounding depends on
// where the values are split must not split them by the team size.
TEST(FieldChannelValues, TheMeanOfALargeFieldIsTheSameOnAnyTeam) {
    auto layout = twoTileLayout(64);  // 2 * 64^3 fine values
    Cb::FieldChannel1f density(0.0f);
    density.updateLayout(*layout);
    auto& values = density.field().fineValues();
    for (int64_t i = 0; i < values.count(); ++i) values[i] = 1.0f;
    // Against 2^60 a double loses ones: which ones depends on the split.
    values[0] = 0x1p60f;
    values[values.count() - 1] = -0x1p60f;
    float first = 0.0f;
    for (int team : {1, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        testsupport::ScopedThreads scope(team);
        const float mean = density.mean3f()[0];
        if (team == 1) first = mean;
        EXPECT_EQ(first, mean);
    }
}
