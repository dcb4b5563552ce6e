// Every production of the signature grammar, pinned as trees of node classes
// with their children in order, and the data each node exposes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "SigTreeText.h"
#include "cb/sig/ChannelDecl.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/ValueDecl.h"
#include "zt/ztx.h"

using sigtest::treeText;

namespace {

std::unique_ptr<Cbp::Root> parse(const std::string& text) { return Cb::parseSignature(text); }

// The single item of a signature whose body is `items`.
std::string itemsText(const std::string& items) {
    auto root = parse("BodySignature T {" + items + "}");
    return treeText(root->items());
}

// The first value declaration of a section holding `decl`.
std::unique_ptr<Cbp::Root> withValue(const std::string& decl) {
    return parse("BodySignature T { PropSection \"S\" { " + decl + "\n} }");
}
const Cbp::ValueDecl* firstValue(const Cbp::Root& root) {
    auto section = dynamic_cast<const Cbp::ValueSectionDecl*>(root.items()->child(0));
    return section->values()->decl(0);
}
std::string valueText(const std::string& decl) { return treeText(firstValue(*withValue(decl))); }

// The first channel statement of a Channels block holding `statement`.
std::unique_ptr<Cbp::Root> withChannel(const std::string& statement) {
    return parse("BodySignature T { Channels { " + statement + " } }");
}
const Cbp::ChannelDeclStmt* firstStatement(const Cbp::Root& root) {
    return dynamic_cast<const Cbp::ChannelDeclStmt*>(root.items()->child(0)->child(0));
}
std::string channelText(const std::string& statement) { return treeText(firstStatement(*withChannel(statement))); }

}  // namespace

TEST(SigParser, RootHoldsNameDescriptionAndItems) {
    auto root = parse("BodySignature Particle-Liquid {}");
    EXPECT_EQ("Root('Particle-Liquid' - Node)", treeText(root.get()));
    EXPECT_EQ("Particle-Liquid", root->name());
    EXPECT_EQ(nullptr, root->description());
    EXPECT_EQ(0, root->items()->slotCount());

    root = parse("BodySignature Fluid || liquids, mostly\n{ }");
    EXPECT_EQ("Root('Fluid' ' liquids, mostly' Node)", treeText(root.get()));
    EXPECT_EQ(" liquids, mostly", root->description()->text());
    root = parse("BodySignature Fluid |*\n  two lines\n*| { }");
    EXPECT_EQ("\n  two lines\n", root->description()->text());
}

TEST(SigParser, ItemsKeepFileOrder) {
    EXPECT_EQ("Node(EnumGroupDecl('G' EnumGroupDeclBlock) ValueSectionDecl('S' - ValueDeclBlock) Node "
              "EnumGroupDecl('H' EnumGroupDeclBlock))",
              itemsText("EnumGroup G {} PropSection \"S\" {} Channels {} EnumGroup H {}"));
}

TEST(SigParser, EnumGroupCountsItsNames) {
    auto root = parse("BodySignature T { EnumGroup Solver_Mode { \"Fast\" 'Very Slow' \"\" } }");
    auto group = dynamic_cast<const Cbp::EnumGroupDecl*>(root->items()->child(0));
    ASSERT_NE(nullptr, group);
    EXPECT_EQ("EnumGroupDecl('Solver_Mode' EnumGroupDeclBlock('Fast' 'Very Slow' ''))", treeText(group));
    EXPECT_EQ("Solver_Mode", group->name());
    EXPECT_EQ("ENUM_GROUP", group->kind());
    EXPECT_EQ(3, group->childCount());
    EXPECT_EQ(2, group->slotCount());
    EXPECT_EQ("Very Slow", group->nameAt(1));
    EXPECT_EQ("", group->nameAt(3));
    EXPECT_THROW(parse("BodySignature T { EnumGroup Bad-Name { } }"), ztx::base);
    EXPECT_THROW(parse("BodySignature T { EnumGroup G { Fast } }"), ztx::base);
}

TEST(SigParser, SectionsDiscardBothRelevanceForms) {
    const std::string plain = itemsText("PropSection \"Solver\" || main\n { }");
    EXPECT_EQ("Node(ValueSectionDecl('Solver' ' main' ValueDeclBlock))", plain);
    EXPECT_EQ(plain, itemsText("PropSection \"Solver\" (\"Mode\" == 1.5) || main\n { }"));
    EXPECT_EQ(plain, itemsText("PropSection \"Solver\" (\"Mode\" == -2) || main\n { }"));
    EXPECT_EQ(plain, itemsText("PropSection \"Solver\" ('Mode' == \"Fast\") || main\n { }"));
    EXPECT_THROW(parse("BodySignature T { PropSection \"S\" (\"Mode\" = 1) { } }"), ztx::base);
    EXPECT_THROW(parse("BodySignature T { PropSection \"S\" (\"Mode\" == Fast) { } }"), ztx::base);

    auto root = parse("BodySignature T { PropSection \"Solver\" { } }");
    auto section = dynamic_cast<const Cbp::ValueSectionDecl*>(root->items()->child(0));
    EXPECT_EQ("VALUE_SECTION", section->kind());
    EXPECT_EQ("Solver", section->name());
    EXPECT_EQ(nullptr, section->description());
    EXPECT_EQ(0, section->values()->slotCount());
}

TEST(SigParser, NumericValuesCarryLimitsFlagsAndDescription) {
    EXPECT_EQ("ValueDecl1f('Master Voxel Size' '0.1' ValueLimits(ValueLimitHard('0.01') ValueLimitHard('10') "
              "ValueLimitsSoftRange('0.05' '1')) FlagList('R' 'H') ' voxel edge')",
              valueText("Float \"Master Voxel Size\" \"0.1\" MIN= 0.01 MAX= 10 (0.05 1) READONLY HIDDEN "
                        "|| voxel edge\n"));
    EXPECT_EQ("ValueDecl1i('Count' '$FRAME*2' ValueLimits(ValueLimitHard('-3') - -) FlagList -)",
              valueText("Int \"Count\" \"$FRAME*2\" MIN=-3"));
    EXPECT_EQ("ValueDecl1i('Count' '4' ValueLimits(- ValueLimitHard('16') -) FlagList -)",
              valueText("Int \"Count\" \"4\" MAX= 16"));
    EXPECT_EQ("ValueDecl1f('Soft' '1' ValueLimits(- - ValueLimitsSoftRange('-1e2' '.5')) FlagList('H') -)",
              valueText("Float \"Soft\" \"1\" (-1e2 .5) HIDDEN"));

    auto root = withValue("Float \"A\" \"1.0\" MIN= 0.5 MAX= 2 (0.6 1.5) READONLY READONLY |* why *|");
    const Cbp::ValueDecl* decl = firstValue(*root);
    EXPECT_EQ("A", decl->valueName());
    EXPECT_EQ("A", decl->name());
    EXPECT_EQ(1, decl->componentCount());
    EXPECT_EQ("1.0", decl->defaultText(0));
    EXPECT_EQ("", decl->defaultText(1));
    const Cbp::ValueLimits* limits = decl->limits(0);
    ASSERT_NE(nullptr, limits);
    EXPECT_FALSE(limits->hardMin()->isMaximum());
    EXPECT_EQ("0.5", limits->hardMin()->valueText());
    EXPECT_TRUE(limits->hardMax()->isMaximum());
    EXPECT_EQ("2", limits->hardMax()->valueText());
    EXPECT_EQ("0.6", limits->softRange()->minText());
    EXPECT_EQ("1.5", limits->softRange()->maxText());
    EXPECT_EQ(nullptr, decl->limits(1));
    EXPECT_EQ(1, decl->readOnly());
    EXPECT_EQ(0, decl->hidden());
    EXPECT_EQ(2, decl->flags()->slotCount());
    EXPECT_EQ(" why ", decl->description()->text());
}

TEST(SigParser, LimitsComeInTheirOrderOnly) {
    EXPECT_THROW(withValue("Float \"A\" \"1\" MAX= 1 MIN= 0"), ztx::base);
    EXPECT_THROW(withValue("Float \"A\" \"1\" (0 1) MIN= 0"), ztx::base);
    EXPECT_THROW(withValue("Float \"A\" \"1\" (0) "), ztx::base);
    EXPECT_THROW(withValue("Float \"A\" \"1\" MIN= \"0\""), ztx::base);
    EXPECT_THROW(withValue("Float \"A\" \"1\" READONLY MIN= 0"), ztx::base);
    EXPECT_THROW(withValue("Float \"A\" 1"), ztx::base);
    EXPECT_THROW(withValue("Int \"A\" \"1\" MAX= 0x10"), ztx::base);  // limits are float or decimal
}

TEST(SigParser, Vec3fTakesADefaultAndLimitsPerComponent) {
    auto root = withValue("Vec3f \"Gravity\" \"0\" MIN=-1 \"-9.8\" \"0\" (0 1) READONLY");
    const Cbp::ValueDecl* decl = firstValue(*root);
    EXPECT_EQ("ValueDecl3f('Gravity' '0' ValueLimits(ValueLimitHard('-1') - -) '-9.8' ValueLimits(- - -) '0' "
              "ValueLimits(- - ValueLimitsSoftRange('0' '1')) FlagList('R') -)",
              treeText(decl));
    EXPECT_EQ(3, decl->componentCount());
    EXPECT_EQ("-9.8", decl->defaultText(1));
    EXPECT_EQ("-1", decl->limits(0)->hardMin()->valueText());
    EXPECT_EQ(nullptr, decl->limits(1)->hardMin());
    EXPECT_EQ("1", decl->limits(2)->softRange()->maxText());
    EXPECT_EQ(1, decl->readOnly());
    EXPECT_EQ(nullptr, decl->description());
    EXPECT_THROW(withValue("Vec3f \"G\" \"0\" \"0\""), ztx::base);
}

TEST(SigParser, StringDeclarationsRecordTheirKind) {
    const std::pair<const char*, const char*> forms[] = {{"String", ""},
                                                         {"FileName", "file-name"},
                                                         {"PathName", "path-name"},
                                                         {"BodyName", "body-name"},
                                                         {"BodyNameList", "body-name-list"}};
    for (const auto& [keyword, kind] : forms) {
        auto root = withValue(std::string(keyword) + " \"Cache\" \"/tmp/x\" HIDDEN || where");
        auto decl = dynamic_cast<const Cbp::ValueDecl1s*>(firstValue(*root));
        ASSERT_NE(nullptr, decl) << keyword;
        EXPECT_EQ(kind, decl->stringKind());
        EXPECT_EQ("ValueDecl1s('Cache' '/tmp/x' FlagList('H') ' where')", treeText(decl));
        EXPECT_EQ("", decl->kind());
        EXPECT_EQ(nullptr, decl->limits(0));
        EXPECT_EQ(1, decl->hidden());
    }
    // Strings take no limits.
    EXPECT_THROW(withValue("String \"A\" \"b\" MIN= 0"), ztx::base);
}

TEST(SigParser, ToggleAndEnumeratedValues) {
    EXPECT_EQ("ValueDeclToggle('Enabled' 'On' FlagList -)", valueText("Toggle \"Enabled\" \"On\""));
    auto root = withValue("Solver_Mode \"Mode\" \"Fast\" READONLY || pick one");
    auto decl = dynamic_cast<const Cbp::ValueDecl1e*>(firstValue(*root));
    ASSERT_NE(nullptr, decl);
    EXPECT_EQ("ValueDecl1e('Solver_Mode' 'Mode' 'Fast' FlagList('R') ' pick one')", treeText(decl));
    EXPECT_EQ("Solver_Mode", decl->groupName());
    EXPECT_EQ("Solver_Mode", decl->name());
    EXPECT_EQ("Mode", decl->valueName());
    EXPECT_EQ("Fast", decl->defaultText(0));
    EXPECT_EQ(1, decl->readOnly());
    // A lower-case type word is an identifier, so it types an enumerated value.
    EXPECT_EQ("ValueDecl1e('float' 'A' '1' FlagList -)", valueText("float \"A\" \"1\""));
    // The group is an identifier, never a hyphen identifier.
    EXPECT_THROW(withValue("Solver-Mode \"Mode\" \"Fast\""), ztx::base);
    EXPECT_THROW(withValue("Toggle \"A\""), ztx::base);
}

TEST(SigParser, ShapeDeclarationsWithEitherScopeOperator) {
    EXPECT_EQ("ChannelDeclStmt(ShapeDecl('Particle') -)", channelText("Particle.*"));
    EXPECT_EQ("ChannelDeclStmt(ShapeDecl('Field') -)", channelText("Field/*"));
    auto root = withChannel("Tet . *");
    EXPECT_EQ("Tet", firstStatement(*root)->shapeDecl()->shapeName());
    EXPECT_EQ(nullptr, firstStatement(*root)->channelDecl());
    EXPECT_THROW(withChannel("Particle*"), ztx::base);
    EXPECT_THROW(withChannel("Particle:*"), ztx::base);
    EXPECT_THROW(withChannel("Particle-x.*"), ztx::base);
}

TEST(SigParser, EveryChannelDeclarationForm) {
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'fluid-distance') '-1.0') -)",
              channelText("Float Field.fluid-distance -1.0"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Particle' 'density') '1000') -)",
              channelText("Float Particle/density 1000"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1i(ChannelSpec('Particle' 'id') '0x1F') -)",
              channelText("Int Particle.id 0x1F"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl2i(ChannelSpec('Edge' 'ends') '-1' '2') -)",
              channelText("Vec2i Edge.ends -1 2"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl3f(ChannelSpec('Particle' 'velocity') '0' '-1.5e3' '.5f') -)",
              channelText("Vec3f Particle.velocity 0 -1.5e3 .5f"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl3i(ChannelSpec('Triangle' 'corners') '0' '1' '0xA') -)",
              channelText("Vec3i Triangle.corners 0 1 0xA"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl4i(ChannelSpec('Tet' 'corners') '0' '1' '2' '-3') -)",
              channelText("Vec4i Tet.corners 0 1 2 -3"));

    auto root = withChannel("Vec3f Particle.velocity 1 2 3");
    const Cbp::ChannelDecl* decl = firstStatement(*root)->channelDecl();
    ASSERT_NE(nullptr, decl);
    EXPECT_EQ("Particle", decl->spec()->shapeName());
    EXPECT_EQ("velocity", decl->spec()->channelName());
    EXPECT_EQ(3, decl->componentCount());
    EXPECT_TRUE(decl->floatElements());
    EXPECT_EQ("2", decl->defaultText(1));
    EXPECT_EQ("", decl->defaultText(3));
    EXPECT_EQ(nullptr, firstStatement(*root)->qualifier());

    EXPECT_THROW(withChannel("Int Particle.id 1.5"), ztx::base);      // ints take no float
    EXPECT_THROW(withChannel("Float Particle.d 0x1"), ztx::base);     // floats take no hex
    EXPECT_THROW(withChannel("Vec2i Edge.ends 1"), ztx::base);        // too few defaults
    EXPECT_THROW(withChannel("Float Particle-x.d 1"), ztx::base);     // shape is an identifier
    EXPECT_THROW(withChannel("String Particle.name 1"), ztx::base);   // not a channel type
}

TEST(SigParser, EveryChannelQualifier) {
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'f') '0') ChannelKeepQualifier)",
              channelText("Float Field.f 0 Keep"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'f') '0') "
              "ChannelTransportQualifier(ChannelTransportQualityLow))",
              channelText("Float Field.f 0 Transport = Low"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'f') '0') "
              "ChannelTransportQualifier(ChannelTransportQualityHigh))",
              channelText("Float Field.f 0 Transport=High"));
    EXPECT_EQ("ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'f') '0') "
              "ChannelParticleSplatQualifier('particle-count'))",
              channelText("Float Field.f 0 (particle-count X N)"));

    auto root = withChannel("Float Field.f 0 Transport = High");
    auto transport = dynamic_cast<const Cbp::ChannelTransportQualifier*>(firstStatement(*root)->qualifier());
    ASSERT_NE(nullptr, transport);
    EXPECT_TRUE(transport->quality()->high());

    const std::tuple<const char*, int, int> letters[] = {
        {"(fluid-distance)", 0, 0}, {"(fluid-distance X)", 1, 0}, {"(fluid-distance N)", 0, 1},
        {"(fluid-distance X N)", 1, 1}, {"(fluid-distance XN)", 1, 1}};
    for (const auto& [text, x, n] : letters) {
        root = withChannel(std::string("Float Field.f 0 ") + text);
        auto splat = dynamic_cast<const Cbp::ChannelParticleSplatQualifier*>(firstStatement(*root)->qualifier());
        ASSERT_NE(nullptr, splat) << text;
        EXPECT_EQ("fluid-distance", splat->name());
        EXPECT_EQ(x, splat->letterX()) << text;
        EXPECT_EQ(n, splat->letterN()) << text;
    }
    EXPECT_THROW(withChannel("Float Field.f 0 (fluid-distance N X)"), ztx::base);
    EXPECT_THROW(withChannel("Float Field.f 0 (fluid-distance Y)"), ztx::base);
    EXPECT_THROW(withChannel("Float Field.f 0 ()"), ztx::base);
    EXPECT_THROW(withChannel("Float Field.f 0 Transport = Medium"), ztx::base);
    EXPECT_THROW(withChannel("Float Field.f 0 Transport Low"), ztx::base);
    EXPECT_THROW(withChannel("Float Field.f 0 Keep Keep"), ztx::base);
}

TEST(SigParser, NodesKnowTheirParents) {
    auto root = parse("BodySignature T { PropSection \"S\" { Float \"A\" \"1\" MIN= 0 } }");
    EXPECT_EQ(nullptr, root->parent());
    const Cbp::Node* items = root->items();
    EXPECT_EQ(root.get(), items->parent());
    const Cbp::ValueDecl* decl = firstValue(*root);
    const Cbp::Node* hardMin = decl->limits(0)->hardMin();
    EXPECT_EQ(decl->limits(0), hardMin->parent());
    EXPECT_EQ(decl, hardMin->parent()->parent());
    EXPECT_EQ(items->child(0), decl->parent()->parent());
}
