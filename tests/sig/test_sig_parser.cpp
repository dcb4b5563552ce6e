// The signature grammar: every production pinned as a tree of node classes
// with their children in order, what the tree text cannot show, the
// syntax-error message for every refused construct, the wrappers of file and
// other failures, and damaged copies of a shipped signature.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/factory/SignatureLoading.h"
#include "cb/sig/ChannelDecl.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/ValueDecl.h"
#include "zt/ztx.h"

using testsupport::messageOf;

namespace {

// Class(child child ...), a StringConstant as 'text', an empty slot as -.
std::string treeText(const Cbp::Node* node) {
    if (!node) return "-";
    if (std::string(node->className()) == "StringConstant") return "'" + node->text() + "'";
    std::string out = node->className();
    if (node->slotCount() == 0) return out;
    for (int64_t i = 0; i < node->slotCount(); ++i) out += (i ? " " : "(") + treeText(node->child(i));
    return out + ')';
}

std::string inValue(const std::string& decl) { return "BodySignature T { PropSection \"S\" { " + decl + "\n} }"; }
std::string inChannel(const std::string& statement) { return "BodySignature T { Channels { " + statement + "\n} }"; }
std::unique_ptr<Cbp::Root> parse(const std::string& text) { return Cb::parseSignature(text); }
const Cbp::ValueDecl* firstValue(const Cbp::Root& root, int i = 0) {
    return dynamic_cast<const Cbp::ValueSectionDecl*>(root.items()->child(0))->values()->decl(i);
}
const Cbp::ChannelDeclStmt* firstStatement(const Cbp::Root& root) {
    return dynamic_cast<const Cbp::ChannelDeclStmt*>(root.items()->child(0)->child(0));
}

}  // namespace

TEST(SigParser, EveryProductionBuildsItsTree) {
    // R: a whole signature; V: the value declaration of a section; C: a channel statement.
    const std::tuple<char, std::string, std::string> cases[] = {
        {'R', "BodySignature Particle-Liquid {}", "Root('Particle-Liquid' - Node)"},
        {'R', "BodySignature Fluid || liquids, mostly\n{ }", "Root('Fluid' ' liquids, mostly' Node)"},
        {'R', "BodySignature Fluid |*\n  two lines\n*| { }", "Root('Fluid' '\n  two lines\n' Node)"},
        {'R', "BodySignature T { EnumGroup G {} PropSection \"S\" {} Channels {} EnumGroup H { \"A b\" '' } }",
         "Root('T' - Node(EnumGroupDecl('G' EnumGroupDeclBlock) ValueSectionDecl('S' - ValueDeclBlock) Node "
         "EnumGroupDecl('H' EnumGroupDeclBlock('A b' ''))))"},
        // Both relevance forms are read and dropped.
        {'R', "BodySignature T { PropSection \"A\" (\"M\" == 1.5) || a\n{ } PropSection \"B\" ('M' == -2) { } "
              "PropSection \"C\" (\"M\" == 'Fast') { } }",
         "Root('T' - Node(ValueSectionDecl('A' ' a' ValueDeclBlock) ValueSectionDecl('B' - ValueDeclBlock) "
         "ValueSectionDecl('C' - ValueDeclBlock)))"},
        {'V', "Float \"A\" \"0.1\" MIN= 0.01 MAX= 10 (0.05 1) READONLY HIDDEN || edge",
         "ValueDecl1f('A' '0.1' ValueLimits(ValueLimitHard('0.01') ValueLimitHard('10') "
         "ValueLimitsSoftRange('0.05' '1')) FlagList('R' 'H') ' edge')"},
        {'V', "Int \"N\" \"$F*2\" MIN=-3", "ValueDecl1i('N' '$F*2' ValueLimits(ValueLimitHard('-3') - -) FlagList -)"},
        {'V', "Int \"N\" \"4\" MAX= 16", "ValueDecl1i('N' '4' ValueLimits(- ValueLimitHard('16') -) FlagList -)"},
        {'V', "Float \"S\" \"1\" (-1e2 .5) HIDDEN |* why *|",
         "ValueDecl1f('S' '1' ValueLimits(- - ValueLimitsSoftRange('-1e2' '.5')) FlagList('H') ' why ')"},
        {'V', "Vec3f \"G\" \"0\" MIN=-1 \"-9.8\" \"0\" (0 1) READONLY",
         "ValueDecl3f('G' '0' ValueLimits(ValueLimitHard('-1') - -) '-9.8' ValueLimits(- - -) '0' "
         "ValueLimits(- - ValueLimitsSoftRange('0' '1')) FlagList('R') -)"},
        {'V', "PathName \"C\" \"/tmp/x\" HIDDEN || where", "ValueDecl1s('C' '/tmp/x' FlagList('H') ' where')"},
        {'V', "Toggle \"E\" \"On\"", "ValueDeclToggle('E' 'On' FlagList -)"},
        {'V', "Mode_2 \"M\" \"Fast\" READONLY || pick", "ValueDecl1e('Mode_2' 'M' 'Fast' FlagList('R') ' pick')"},
        // A lower-case type word is an identifier, so it types an enumerated value.
        {'V', "float \"A\" \"1\"", "ValueDecl1e('float' 'A' '1' FlagList -)"},
        {'C', "Tet . *", "ChannelDeclStmt(ShapeDecl('Tet') -)"},
        {'C', "Field/*", "ChannelDeclStmt(ShapeDecl('Field') -)"},
        {'C', "Float F.fluid-dist -1.0", "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('F' 'fluid-dist') '-1.0') -)"},
        {'C', "Float P/d 1000", "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('P' 'd') '1000') -)"},
        {'C', "Int P.id 0x1F", "ChannelDeclStmt(ChannelDecl1i(ChannelSpec('P' 'id') '0x1F') -)"},
        {'C', "Vec2i E.ends -1 2", "ChannelDeclStmt(ChannelDecl2i(ChannelSpec('E' 'ends') '-1' '2') -)"},
        {'C', "Vec3f P.v 0 -1.5e3 .5f", "ChannelDeclStmt(ChannelDecl3f(ChannelSpec('P' 'v') '0' '-1.5e3' '.5f') -)"},
        {'C', "Vec3i T.c 0 1 0xA", "ChannelDeclStmt(ChannelDecl3i(ChannelSpec('T' 'c') '0' '1' '0xA') -)"},
        {'C', "Vec4i T.c 0 1 2 -3", "ChannelDeclStmt(ChannelDecl4i(ChannelSpec('T' 'c') '0' '1' '2' '-3') -)"},
        {'C', "Float F.f 0 Keep", "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('F' 'f') '0') ChannelKeepQualifier)"},
        {'C', "Float F.f 0 Transport = Low",
         "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('F' 'f') '0') ChannelTransportQualifier(ChannelTransportQualityLow))"},
        {'C', "Float F.f 0 Transport=High",
         "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('F' 'f') '0') ChannelTransportQualifier(ChannelTransportQualityHigh))"},
        {'C', "Float F.f 0 (particle-count X N)",
         "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('F' 'f') '0') ChannelParticleSplatQualifier('particle-count'))"},
    };
    for (const auto& [kind, text, tree] : cases) {
        SCOPED_TRACE(text);
        auto root = parse(kind == 'V' ? inValue(text) : kind == 'C' ? inChannel(text) : text);
        EXPECT_EQ(tree, kind == 'V'   ? treeText(firstValue(*root))
                        : kind == 'C' ? treeText(firstStatement(*root))
                                      : treeText(root.get()));
    }
}

TEST(SigParser, NodesExposeWhatTheTreeTextCannotShow) {
    auto root = parse(inValue("Float \"A\" \"1.0\" MIN= 0.5"));
    const Cbp::ValueDecl* decl = firstValue(*root);
    EXPECT_EQ(decl->limits(0), decl->limits(0)->hardMin()->parent());
    EXPECT_EQ(root->items()->child(0), decl->parent()->parent());
    root = parse("BodySignature T { EnumGroup G { \"Fast\" 'Very Slow' \"\" } }");
    EXPECT_EQ(3, root->items()->child(0)->childCount());  // a group counts its names
    root = parse(inValue("String \"a\" '' FileName \"b\" '' PathName \"c\" '' BodyName \"d\" '' BodyNameList \"e\" ''"));
    std::string kinds;
    for (int i = 0; i < 5; ++i) kinds += static_cast<const Cbp::ValueDecl1s*>(firstValue(*root, i))->stringKind() + ",";
    EXPECT_EQ(",file-name,path-name,body-name,body-name-list,", kinds);
    for (const auto& [text, x, n] : {std::tuple<const char*, int, int>{"(d)", 0, 0}, {"(d X)", 1, 0}, {"(d N)", 0, 1},
                                     {"(d X N)", 1, 1}, {"(d XN)", 1, 1}}) {
        root = parse(inChannel(std::string("Float Field.f 0 ") + text));
        auto& splat = dynamic_cast<const Cbp::ChannelParticleSplatQualifier&>(*firstStatement(*root)->qualifier());
        EXPECT_EQ(x, splat.letterX()) << text;
        EXPECT_EQ(n, splat.letterN()) << text;
    }
}

TEST(SigNode, DumpWritesAnIndentedOutline) {
    testsupport::CaptureStderr capture;
    parse("BodySignature T { EnumGroup M { \"A\" \"B\" } }")->dump(2);
    EXPECT_EQ("  Root [3]\n    StringConstant [0] 'T'\n    (none)\n    Node [1]\n      EnumGroupDecl [2]\n"
              "        StringConstant [0] 'M'\n        EnumGroupDeclBlock [2]\n          StringConstant [0] 'A'\n"
              "          StringConstant [0] 'B'\n",
              capture.finish());
}

TEST(SigCompile, SyntaxErrorsGiveTheLineAndTheRestOfItFromTheRefusedToken) {
    const std::string line1 = "Syntax error on line 1: ";
    const std::pair<std::string, std::string> cases[] = {
        {"BodySignature X\n{\n PropSection \"S\" { Float \"a\" \"1\" @ READONLY }\n}\n", "Syntax error on line 3: @ READONLY }"},
        {"BodySignature X {\nPropSection \"S\" {\nInt \"a\" \"1\" MAX= 1 MIN= 0 }\n}", "Syntax error on line 3: MIN= 0 }"},
        {"bodysignature X {}", line1 + "bodysignature X {}"},
        {"BodySignature T { EnumGroup G { Fast } }", line1 + "Fast } }"},
        {"BodySignature T { PropSection \"S\" (\"Mode\" = 1) { } }", line1 + "= 1) { } }"},
        {"BodySignature T { PropSection \"S\" (\"Mode\" == Fast) { } }", line1 + "Fast) { } }"},
        // Limits only in the order MIN=, MAX=, soft range, then flags; numbers unquoted, never hex.
        {inValue("Float \"A\" \"1\" (0)"), line1 + ")"},
        {inValue("Float \"A\" \"1\" MIN= \"0\""), line1 + "\"0\""},
        {inValue("Float \"A\" \"1\" READONLY MIN= 0"), line1 + "MIN= 0"},
        {inValue("Float \"A\" 1"), line1 + "1"},
        {inValue("Int \"A\" \"1\" MAX= 0x10"), line1 + "0x10"},
        {inValue("String \"A\" \"b\" MIN= 0"), line1 + "MIN= 0"},
        {inValue("Solver-Mode \"Mode\" \"Fast\""), line1 + "Solver-Mode \"Mode\" \"Fast\""},
        {inValue("Vec3f \"G\" \"0\" \"0\""), "Syntax error on line 2: } }"},
        {inChannel("Particle*"), line1 + "*"},
        {inChannel("Particle-x.*"), line1 + "Particle-x.*"},
        {inChannel("Int Particle.id 1.5"), line1 + "1.5"},
        {inChannel("Float Particle.d 0x1"), line1 + "0x1"},
        {inChannel("Vec2i Edge.ends 1"), "Syntax error on line 2: } }"},
        {inChannel("String Particle.name 1"), line1 + "String Particle.name 1"},
        {inChannel("Float Field.f 0 (fluid-distance N X)"), line1 + "X)"},
        {inChannel("Float Field.f 0 (fluid-distance Y)"), line1 + "Y)"},
        {inChannel("Float Field.f 0 ()"), line1 + ")"},
        {inChannel("Float Field.f 0 Transport = Medium"), line1 + "Medium"},
        {inChannel("Float Field.f 0 Keep Keep"), line1 + "Keep"},
        // Unterminated constructs point at where they begin.
        {"BodySignature X {\nPropSection \"Mode { }", "Syntax error on line 2: \"Mode { }"},
        {"BodySignature X |* open\nand on\n{ }", line1 + "|* open"},
        // Running out of text, text after the signature, Windows line ends.
        {"BodySignature X {\n  EnumGroup G { }\n", "Syntax error on line 3: "},
        {"BodySignature X { } extra", line1 + "extra"},
        {"", line1},
        {"BodySignature X\r\n{ ? x\r\n}", "Syntax error on line 2: ? x"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(message, messageOf([&text = text] { Cb::parseSignature(text); }));
    }
}

TEST(SigCompile, FailuresAreWrappedWithThePathAndSuccessLogsTheSignatureName) {
    testsupport::TempDir dir;
    const std::string bad = dir.file("bad.sig"), missing = dir.file("missing.sig"), good = dir.file("liquid.sig");
    testsupport::writeFile(bad, "BodySignature Bad\n{\n  EnumGroup G { \"a\" ! }\n}\n");
    EXPECT_EQ("Error parsing " + bad + ": Syntax error on line 3: ! }",
              messageOf([&] { delete Cb::compileSignature(bad); }));
    EXPECT_EQ("Error parsing " + missing + ": Error loading file " + missing + ": No such file or directory",
              messageOf([&] { delete Cb::compileSignature(missing); }));
    EXPECT_EQ("Error parsing in-memory: Syntax error on line 1: ",
              messageOf([&] { delete Cb::compileSignatureText("BodySignature", "in-memory"); }));
    auto failing = [](auto failure) { return [failure](const std::string&) -> std::string { throw failure; }; };
    EXPECT_EQ("-------- Bad body signature: /sig/a.sig",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/a.sig", failing(std::runtime_error("x"))); }));
    EXPECT_EQ("-------- Bad body signature: /sig/b.sig",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/b.sig", failing(std::bad_alloc())); }));
    EXPECT_EQ("Error parsing /sig/c.sig: disk on fire",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/c.sig", failing(ztx::base("disk on fire"))); }));

    testsupport::writeFile(good, "BodySignature Particle-Liquid\r\n{\r\n}\r\n");
    testsupport::CaptureStderr capture;
    std::unique_ptr<Cbp::Root> root(Cb::compileSignature(good));
    EXPECT_EQ("Corix: Compiled SIG: Particle-Liquid\n", capture.finish());
    EXPECT_EQ("Particle-Liquid", root->name());
}

// Every prefix and many one-character corruptions of a real signature parse
// or fail with the syntax-error message; the sanitizer build checks that no
// partial tree is left behind.
TEST(SigCompile, TruncatedAndCorruptedTextsFailCleanly) {
    const std::string text =
        testsupport::readText(std::string(CB_SOURCE_DIR) + "/share/corix/server/standard-sig/Particle-Liquid.sig");
    ASSERT_EQ("Particle-Liquid", Cb::parseSignature(text)->name());
    auto parsesOrFailsCleanly = [](const std::string& damaged) {
        try {
            Cb::parseSignature(damaged);
        } catch (const ztx::base& error) {
            ASSERT_EQ(0u, std::string(error.what()).rfind("Syntax error on line ", 0)) << error.what();
        }
    };
    for (size_t n = 0; n < text.size(); ++n) parsesOrFailsCleanly(text.substr(0, n));
    for (size_t i = 0; i < text.size(); i += 3) parsesOrFailsCleanly(std::string(text).replace(i, 1, "@"));
}
