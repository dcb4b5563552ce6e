// Applying compiled signatures to bodies: groups, sections and values with
// defaults, flags and limits; shapes and channels with their defaults; the
// update qualifiers of field channels; and the failures of each.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FactoryTestSupport.h"
#include "MessageOf.h"
#include "cb/fields/FieldChannel.h"
#include "cb/model/Body.h"
#include "cb/model/Shape.h"
#include "cb/sig/SigCompiler.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "cb/values/ValueTypes.h"

using testsupport::messageOf;

namespace {

class SigApply : public ::testing::Test {
protected:
    void SetUp() override { Cb::begin(false); }

    // A body "b" built from a signature holding `items`.
    std::unique_ptr<Cb::Body> build(const std::string& items) {
        auto body = std::make_unique<Cb::Body>("b");
        Cb::parseSignature("BodySignature T {\n" + items + "\n}\n")->apply(body.get());
        return body;
    }
    std::string failureOf(const std::string& items) {
        return messageOf([&] { build(items); });
    }

    factorytest::LibraryGuard guard_;
};

template <class V>
V& valueAs(Cb::Body& body, const std::string& name) {
    auto* value = dynamic_cast<V*>(body.value(name));
    if (!value) throw std::runtime_error("value '" + name + "' has another class");
    return *value;
}

Cb::Channel& channelOf(Cb::Body& body, const std::string& qualified) {
    Cb::Channel* channel = body.channel(qualified);
    if (!channel) throw std::runtime_error("no channel " + qualified);
    return *channel;
}

const Cb::FieldChannelBase& fieldChannel(Cb::Body& body, const std::string& name) {
    auto* channel = dynamic_cast<const Cb::FieldChannelBase*>(&channelOf(body, "Field." + name));
    if (!channel) throw std::runtime_error("not a field channel: " + name);
    return *channel;
}

TEST_F(SigApply, LimitsComeAfterTheDefaultSoADefaultOutsideThemIsAccepted) {
    auto body = build(R"(PropSection "S" {
        Float "Low" "0.1" MIN= 0.5
        Float "Ranged" "1.0" MIN= 0.5 MAX= 2 (0.6 1.5)
        Int "Count" "12" MAX= 10
        Vec3f "Gravity" "0" MIN= -1 "-9.8" (-20 0) "0" MAX= 1
    })");
    auto& low = valueAs<Cb::Value1f>(*body, "Low");
    EXPECT_EQ("0.1", low.expression(0));
    EXPECT_EQ(0.5, low.hardMin(0));
    EXPECT_EQ(Cb::kDefaultMaxLimit, low.hardMax(0));
    // The limit holds from now on.
    EXPECT_NE(std::string::npos,
              messageOf([&] { low.setExpression("0.2", 0); }).find("Attempting to set out-of-bounds value: "));

    auto& ranged = valueAs<Cb::Value1f>(*body, "Ranged");
    EXPECT_EQ(0.5, ranged.hardMin(0));
    EXPECT_EQ(2.0, ranged.hardMax(0));
    EXPECT_DOUBLE_EQ(0.6, ranged.softMin(0));
    EXPECT_DOUBLE_EQ(1.5, ranged.softMax(0));

    auto& count = valueAs<Cb::Value1i>(*body, "Count");
    EXPECT_EQ("12", count.expression(0));
    EXPECT_EQ(10.0, count.hardMax(0));

    auto& gravity = valueAs<Cb::Value3f>(*body, "Gravity");
    EXPECT_EQ("0", gravity.expression(0));
    EXPECT_EQ("-9.8", gravity.expression(1));
    EXPECT_EQ(-1.0, gravity.hardMin(0));
    EXPECT_EQ(Cb::kDefaultMinLimit, gravity.hardMin(1));
    EXPECT_EQ(-20.0, gravity.softMin(1));
    EXPECT_EQ(0.0, gravity.softMax(1));
    EXPECT_EQ(1.0, gravity.hardMax(2));
    EXPECT_EQ(Cb::kDefaultMaxLimit, gravity.hardMax(0));
}

TEST_F(SigApply, FlagsSectionOrderAndLegacyNames) {
    auto body = build(R"(PropSection "Fluid" {
        Float "Fluid Density" "1000" READONLY
        String "Note" "wet" HIDDEN
        Float "Plain" "1" READONLY HIDDEN READONLY
    }
    PropSection "Supersampling" { Int "Particle Supersampling" "2" }
    PropSection "Stepping" { Int "Substeps" "1" })");
    ASSERT_EQ(3, body->sectionCount());
    EXPECT_EQ("Stepping", body->sectionAt(0)->name());
    EXPECT_EQ("Fluid", body->sectionAt(1)->name());
    EXPECT_EQ("Particle Supersampling", body->sectionAt(2)->name());
    EXPECT_EQ("Interior Supersampling", body->sectionAt(2)->valueAt(0)->ownName());

    Cb::ValueSection* fluid = body->sectionAt(1);
    ASSERT_EQ(3, fluid->valueCount());
    EXPECT_EQ("Density", fluid->valueAt(0)->ownName());
    EXPECT_EQ("b.Density", body->value("Solid Density")->name());
    EXPECT_TRUE(fluid->valueAt(0)->readOnly());
    EXPECT_FALSE(fluid->valueAt(0)->hidden());
    EXPECT_FALSE(fluid->valueAt(1)->readOnly());
    EXPECT_TRUE(fluid->valueAt(1)->hidden());
    EXPECT_TRUE(fluid->valueAt(2)->readOnly());
    EXPECT_TRUE(fluid->valueAt(2)->hidden());

    EXPECT_EQ("Cannot add section 'Fluid' to 'b': section exists",
              failureOf(R"(PropSection "Fluid" { } PropSection "Fluid" { })"));
}

TEST_F(SigApply, EveryStringKindBuildsAStringValue) {
    auto body = build(R"(PropSection "Files" {
        String "Label" "liquid"
        FileName "Cache" "$HOME/cache.ztp"
        PathName "Folder" "/tmp" READONLY
        BodyName "Emitter" "source"
        BodyNameList "Colliders" ""
    })");
    const char* names[] = {"Label", "Cache", "Folder", "Emitter", "Colliders"};
    const char* texts[] = {"liquid", "$HOME/cache.ztp", "/tmp", "source", ""};
    for (int i = 0; i < 5; ++i) {
        auto& value = valueAs<Cb::Value1s>(*body, names[i]);
        EXPECT_EQ(texts[i], value.expression(0)) << names[i];
        EXPECT_EQ("value1s", value.typeName());
    }
    EXPECT_TRUE(body->value("Folder")->readOnly());
}

TEST_F(SigApply, TogglesAndEnumeratedValuesCheckTheirDefaults) {
    auto body = build(R"(EnumGroup Mode { "Fast" "Accurate" }
    PropSection "S" {
        Toggle "Adaptive" "On" HIDDEN
        Toggle "Verbose" "Off"
        Mode "Solver" "Accurate" READONLY
    })");
    auto& adaptive = valueAs<Cb::ValueToggle>(*body, "Adaptive");
    EXPECT_EQ("On", adaptive.selected());
    EXPECT_EQ(Cb::toggleGroup(), adaptive.group());
    EXPECT_TRUE(adaptive.hidden());
    EXPECT_EQ("Off", valueAs<Cb::ValueToggle>(*body, "Verbose").selected());

    auto& solver = valueAs<Cb::Value1e>(*body, "Solver");
    EXPECT_EQ("enum", solver.typeName());
    EXPECT_EQ("Accurate", solver.selected());
    EXPECT_EQ(body->enumGroup("Mode"), solver.group());
    EXPECT_TRUE(solver.readOnly());
    ASSERT_EQ(1, body->enumGroupCount());
    EXPECT_EQ((std::vector<std::string>{"Fast", "Accurate"}), body->enumGroupAt(0)->names());

    EXPECT_EQ("Enumerated name 'on' does not exist in group 'Toggle'",
              failureOf(R"(PropSection "S" { Toggle "Adaptive" "on" })"));
    EXPECT_EQ("Enumerated name 'Slow' does not exist in group 'Mode'",
              failureOf(R"(EnumGroup Mode { "Fast" } PropSection "S" { Mode "Solver" "Slow" })"));
    // Items apply in file order: the group must come first.
    EXPECT_EQ("_enumerated group 'Mode' in 'b' does not exist",
              failureOf(R"(PropSection "S" { Mode "Solver" "Fast" } EnumGroup Mode { "Fast" })"));
}

TEST_F(SigApply, GroupsFailOnApplyWhenDeclaredTwice) {
    EXPECT_EQ("Cannot add enumerated group 'Mode' to 'b': group exists",
              failureOf(R"(EnumGroup Mode { "A" } EnumGroup Mode { "B" })"));
    EXPECT_EQ("Cannot add enumerated name 'A' to group 'Mode': name exists",
              failureOf(R"(EnumGroup Mode { "A" "B" "A" })"));
}

TEST_F(SigApply, AChannelDeclarationCreatesItsShapeFirst) {
    auto body = build("Channels { Vec3f Particle.velocity 1 2 3 }");
    ASSERT_TRUE(body->hasShape("Particle"));
    const Cb::Shape& particles = *body->shape("Particle");
    ASSERT_EQ(2, particles.channelCount());
    EXPECT_EQ("position", particles.channel(0)->name());
    EXPECT_EQ("velocity", particles.channel(1)->name());
    EXPECT_EQ("particle::vec3f", particles.channel(1)->typeName());
    EXPECT_EQ((zt::vec3f{1, 2, 3}), particles.channel(1)->defaultValue3f());

    auto points = build("Channels { Point.* Float Point/weight 0.5 }");
    EXPECT_EQ("Point", points->shape("Point")->name());
    EXPECT_EQ("buffer::float", channelOf(*points, "Point.weight").typeName());

    EXPECT_EQ("Cannot create shape 'Point' in Body b: shape already exists",
              failureOf("Channels { Float Point.weight 0 Point.* }"));
    EXPECT_EQ("Unknown shape: 'Cloud'", failureOf("Channels { Float Cloud.weight 0 }"));
}

TEST_F(SigApply, ChannelDefaultsConvertLikeAtofAndExistingChannelsStay) {
    auto body = build(R"(Channels {
        Float Particle.a 1e2
        Float Particle.b -.5
        Float Particle.c 3
        Vec3f Particle.d 1.5e-1 -2 7.f
        Int Particle.e 0xFF
        Int Particle.f 0xFFFFFFFF
        Int Particle.g -7
        Vec3i Particle.h 1 0x2 -3
        Float Particle.a 9
        Int Particle.b 4
    })");
    EXPECT_EQ(100.0f, channelOf(*body, "Particle.a").defaultValue3f().x());
    EXPECT_EQ(-0.5f, channelOf(*body, "Particle.b").defaultValue3f().x());
    EXPECT_EQ(3.0f, channelOf(*body, "Particle.c").defaultValue3f().x());
    EXPECT_EQ((zt::vec3f{0.15f, -2.0f, 7.0f}), channelOf(*body, "Particle.d").defaultValue3f());
    EXPECT_EQ(255.0f, channelOf(*body, "Particle.e").defaultValue3f().x());
    EXPECT_EQ(-1.0f, channelOf(*body, "Particle.f").defaultValue3f().x());
    EXPECT_EQ(-7.0f, channelOf(*body, "Particle.g").defaultValue3f().x());
    EXPECT_EQ((zt::vec3f{1, 2, -3}), channelOf(*body, "Particle.h").defaultValue3f());
    EXPECT_EQ("particle::int", channelOf(*body, "Particle.e").typeName());
    // A second declaration of a name changes neither type nor default.
    EXPECT_EQ("particle::float", channelOf(*body, "Particle.b").typeName());
    EXPECT_EQ(100.0f, channelOf(*body, "Particle.a").defaultValue3f().x());

    auto mesh = build("Channels { Vec2i Edge.pair 1 2 Vec4i Tet.corner 1 2 3 0x4 }");
    EXPECT_EQ("buffer::vec2i", channelOf(*mesh, "Edge.pair").typeName());
    EXPECT_EQ("buffer::vec4i", channelOf(*mesh, "Tet.corner").typeName());
    EXPECT_EQ("2i channels not supported in a Particle-Shape", failureOf("Channels { Vec2i Particle.pair 1 2 }"));
}

TEST_F(SigApply, QualifiersSetTheUpdateAttributesOfFieldChannels) {
    auto body = build(R"(Channels {
        Float Field.kept 0 Keep
        Float Field.low 0 Transport = Low
        Vec3f Field.high 0 0 0 Transport = High
        Vec3f Particle.velocity 0 0 0
        Vec3f Field.velocity 0 0 0 (velocity)
        Float Field.density 0 (density X N)
        Float Field.plain 0
        Float Field.both 0 Transport = High
        Float Field.both 5 Keep
    })");
    struct Expected {
        const char* name;
        int mode;
        int a, b, c;
    };
    for (const Expected& e : {Expected{"plain", 0, 0, 0, 0}, Expected{"kept", 0, 0, 0, 0},
                              Expected{"both", 0, 1, 0, 0}, Expected{"low", 2, 0, 0, 0},
                              Expected{"high", 2, 1, 0, 0}, Expected{"velocity", 3, 0, 1, 1},
                              Expected{"density", 3, 0, 1, 1}}) {
        const Cb::FieldChannelBase& channel = fieldChannel(*body, e.name);
        EXPECT_EQ(e.mode, channel.updateMode()) << e.name;
        EXPECT_EQ(e.a, channel.flag(Cb::kFieldFlagA)) << e.name;
        EXPECT_EQ(e.b, channel.flag(Cb::kFieldFlagB)) << e.name;
        EXPECT_EQ(e.c, channel.flag(Cb::kFieldFlagC)) << e.name;
        EXPECT_FALSE(channel.flag(Cb::kFieldFlagD) || channel.flag(Cb::kFieldFlagE)) << e.name;
    }
    // A qualifier applies to the channel even when the declaration found it.
    EXPECT_EQ(0.0f, channelOf(*body, "Field.both").defaultValue3f().x());

    EXPECT_EQ("Channel 'velocity' in Particle-shape requested: wrong channel type",
              failureOf("Channels { Vec3f Particle.velocity 0 0 0 Transport = High }"));
    EXPECT_EQ("Channel 'weight' in Point-shape requested: wrong channel type",
              failureOf("Channels { Float Point.weight 0 Keep }"));
}

TEST_F(SigApply, ANullBodyIsRefused) {
    auto root = Cb::parseSignature("BodySignature T { }");
    EXPECT_EQ("Cannot apply signature 'T' to a NULL body", messageOf([&] { root->apply(nullptr); }));
}

}  // namespace
