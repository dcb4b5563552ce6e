// Compiling signature files: the syntax-error message with its line, the
// wrappers for read and other failures, partial trees on errors, and a full
// signature of a particle liquid end to end.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "SigTreeText.h"
#include "TempPath.h"
#include "cb/sig/ChannelDecl.h"
#include "cb/sig/SectionDecl.h"
#include "cb/sig/SigCompiler.h"
#include "zt/ztx.h"

using sigtest::treeText;
using testsupport::messageOf;

namespace {

std::string syntaxErrorOf(const std::string& text) {
    return messageOf([&] { Cb::parseSignature(text); });
}

const char* kLiquid = R"(BodySignature Particle-Liquid |* A liquid made of particles,
   simulated on a sparse grid. *|
{
    EnumGroup Solver_Mode { "Fast" "Accurate" }
    EnumGroup Surface_Type { 'Smooth' "Sharp" "None" }

    PropSection "Stepping" || time stepping
    {
        Float "Master Voxel Size" "0.1" MIN= 0.001 MAX= 100 (0.01 1.0) || edge of a voxel
        Int "Threads" "0" MIN= 0 READONLY
        Solver_Mode "Solver" "Fast"
        Toggle "Adaptive Steps" "On" HIDDEN
    }

    PropSection "Forces" ("Solver" == "Accurate")
    {
        Vec3f "Gravity" "0" "-9.8*$SCALE" MIN=-100 MAX= 0 "0"
        FileName "Cache File" "$CORIX_PATH/cache/liquid.ztp" || where frames go
        BodyNameList "Colliders" ""
    }

    PropSection "Surface" ("Adaptive Steps" == 1)
    {
        Surface_Type "Surface" "Smooth" READONLY HIDDEN
        Float "Smoothing" "0.5" (0 1)
    }

    Channels
    {
        Particle.*
        Vec3f Particle.velocity 0 0 0
        Float Particle.density 1000.0
        Int Particle.id 0x0
        Field/*
        Float Field.fluid-distance -1.0e3 (fluid-distance X N)
        Float Field.particle-count 0 Keep
        Vec3f Field.velocity 0 0 0 Transport = High
        Float Field.viscosity 0.1 Transport = Low
    }
}
)";

}  // namespace

TEST(SigCompile, SyntaxErrorGivesTheLineAndTheRestOfIt) {
    EXPECT_EQ("Syntax error on line 3: @ READONLY }",
              syntaxErrorOf("BodySignature X\n{\n  PropSection \"S\" { Float \"a\" \"1\" @ READONLY }\n}\n"));
    // The point of the error is the token the grammar cannot take.
    EXPECT_EQ("Syntax error on line 3: MIN= 0 }",
              syntaxErrorOf("BodySignature X {\nPropSection \"S\" {\n  Int \"a\" \"1\" MAX= 1 MIN= 0 }\n}"));
    EXPECT_EQ("Syntax error on line 1: bodysignature X {}", syntaxErrorOf("bodysignature X {}"));
    EXPECT_EQ("Syntax error on line 2: Medium", syntaxErrorOf("BodySignature X { Channels {\n"
                                                                "Float Field.f 0 Transport = Medium\n} }"));
    // Unterminated constructs point at where they begin.
    EXPECT_EQ("Syntax error on line 2: \"Mode { }", syntaxErrorOf("BodySignature X {\nPropSection \"Mode { }"));
    EXPECT_EQ("Syntax error on line 1: |* open", syntaxErrorOf("BodySignature X |* open\nand on\n{ }"));
    // Running out of text, and text after the signature.
    EXPECT_EQ("Syntax error on line 3: ", syntaxErrorOf("BodySignature X {\n  EnumGroup G { }\n"));
    EXPECT_EQ("Syntax error on line 1: extra", syntaxErrorOf("BodySignature X { } extra"));
    EXPECT_EQ("Syntax error on line 1: ", syntaxErrorOf(""));
    // Windows line ends do not leak into the message.
    EXPECT_EQ("Syntax error on line 2: ? x", syntaxErrorOf("BodySignature X\r\n{ ? x\r\n}"));
}

TEST(SigCompile, FileErrorsAreWrappedWithThePath) {
    testsupport::TempDir dir;
    const std::string path = dir.file("bad.sig");
    testsupport::writeFile(path, "BodySignature Bad\n{\n  EnumGroup G { \"a\" ! }\n}\n");
    EXPECT_EQ("Error parsing " + path + ": Syntax error on line 3: ! }",
              messageOf([&] { delete Cb::compileSignature(path); }));

    const std::string missing = dir.file("missing.sig");
    EXPECT_EQ("Error parsing " + missing + ": Error loading file " + missing + ": No such file or directory",
              messageOf([&] { delete Cb::compileSignature(missing); }));

    EXPECT_EQ("Error parsing in-memory: Syntax error on line 1: ",
              messageOf([&] { delete Cb::compileSignatureText("BodySignature", "in-memory"); }));
}

TEST(SigCompile, FailuresOutsideTheLibraryBecomeBadSignature) {
    auto throwing = [](auto failure) {
        return [failure](const std::string&) -> std::string { throw failure; };
    };
    EXPECT_EQ("-------- Bad body signature: /sig/a.sig",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/a.sig", throwing(std::runtime_error("x"))); }));
    EXPECT_EQ("-------- Bad body signature: /sig/b.sig",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/b.sig", throwing(std::bad_alloc())); }));
    EXPECT_EQ("Error parsing /sig/c.sig: disk on fire",
              messageOf([&] { delete Cb::compileSignatureWith("/sig/c.sig", throwing(ztx::base("disk on fire"))); }));
}

TEST(SigCompile, SuccessLogsTheSignatureNameNotTheFileName) {
    testsupport::TempDir dir;
    const std::string path = dir.file("liquid.sig");
    testsupport::writeFile(path, "BodySignature Particle-Liquid\r\n{\r\n}\r\n");
    testsupport::CaptureStderr capture;
    std::unique_ptr<Cbp::Root> root(Cb::compileSignature(path));
    EXPECT_EQ("Corix: Compiled SIG: Particle-Liquid\n", capture.finish());
    EXPECT_EQ("Particle-Liquid", root->name());
}

TEST(SigCompile, RealisticLiquidSignatureEndToEnd) {
    testsupport::TempDir dir;
    const std::string path = dir.file("Particle-Liquid.Sig");
    testsupport::writeFile(path, kLiquid);
    testsupport::CaptureStderr capture;
    std::unique_ptr<Cbp::Root> root(Cb::compileSignature(path));
    capture.finish();

    EXPECT_EQ("Particle-Liquid", root->name());
    EXPECT_EQ(" A liquid made of particles,\n   simulated on a sparse grid. ", root->description()->text());
    const Cbp::Node* items = root->items();
    ASSERT_EQ(6, items->slotCount());
    EXPECT_EQ("ENUM_GROUP", items->child(0)->kind());
    EXPECT_EQ("Solver_Mode", items->child(0)->name());
    EXPECT_EQ(3, items->child(1)->childCount());
    EXPECT_EQ("VALUE_SECTION", items->child(2)->kind());

    EXPECT_EQ("ValueSectionDecl('Stepping' ' time stepping' ValueDeclBlock("
              "ValueDecl1f('Master Voxel Size' '0.1' ValueLimits(ValueLimitHard('0.001') ValueLimitHard('100') "
              "ValueLimitsSoftRange('0.01' '1.0')) FlagList ' edge of a voxel') "
              "ValueDecl1i('Threads' '0' ValueLimits(ValueLimitHard('0') - -) FlagList('R') -) "
              "ValueDecl1e('Solver_Mode' 'Solver' 'Fast' FlagList -) "
              "ValueDeclToggle('Adaptive Steps' 'On' FlagList('H') -)))",
              treeText(items->child(2)));
    EXPECT_EQ("ValueSectionDecl('Forces' - ValueDeclBlock("
              "ValueDecl3f('Gravity' '0' ValueLimits(- - -) '-9.8*$SCALE' ValueLimits(ValueLimitHard('-100') "
              "ValueLimitHard('0') -) '0' ValueLimits(- - -) FlagList -) "
              "ValueDecl1s('Cache File' '$CORIX_PATH/cache/liquid.ztp' FlagList ' where frames go') "
              "ValueDecl1s('Colliders' '' FlagList -)))",
              treeText(items->child(3)));
    auto forces = dynamic_cast<const Cbp::ValueSectionDecl*>(items->child(3));
    EXPECT_EQ("file-name", dynamic_cast<const Cbp::ValueDecl1s*>(forces->values()->decl(1))->stringKind());
    EXPECT_EQ("body-name-list", dynamic_cast<const Cbp::ValueDecl1s*>(forces->values()->decl(2))->stringKind());
    auto surface = dynamic_cast<const Cbp::ValueSectionDecl*>(items->child(4));
    EXPECT_EQ(1, surface->values()->decl(0)->readOnly());
    EXPECT_EQ(1, surface->values()->decl(0)->hidden());

    EXPECT_EQ("Node(ChannelDeclStmt(ShapeDecl('Particle') -) "
              "ChannelDeclStmt(ChannelDecl3f(ChannelSpec('Particle' 'velocity') '0' '0' '0') -) "
              "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Particle' 'density') '1000.0') -) "
              "ChannelDeclStmt(ChannelDecl1i(ChannelSpec('Particle' 'id') '0x0') -) "
              "ChannelDeclStmt(ShapeDecl('Field') -) "
              "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'fluid-distance') '-1.0e3') "
              "ChannelParticleSplatQualifier('fluid-distance')) "
              "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'particle-count') '0') ChannelKeepQualifier) "
              "ChannelDeclStmt(ChannelDecl3f(ChannelSpec('Field' 'velocity') '0' '0' '0') "
              "ChannelTransportQualifier(ChannelTransportQualityHigh)) "
              "ChannelDeclStmt(ChannelDecl1f(ChannelSpec('Field' 'viscosity') '0.1') "
              "ChannelTransportQualifier(ChannelTransportQualityLow)))",
              treeText(items->child(5)));
}

// Every prefix of a valid signature, and every one-character corruption of
// it, either parses or fails with the syntax-error message; the sanitizer
// build checks that no partial tree is left behind.
TEST(SigCompile, TruncatedAndCorruptedTextsFailCleanly) {
    const std::string text = kLiquid;
    int parsed = 0;
    for (size_t n = 0; n <= text.size(); ++n) {
        try {
            Cb::parseSignature(text.substr(0, n));
            ++parsed;
        } catch (const ztx::base& error) {
            ASSERT_EQ(0u, std::string(error.what()).rfind("Syntax error on line ", 0)) << error.what();
        }
    }
    EXPECT_GE(parsed, 1);  // the whole text, with or without its last line end
    for (size_t i = 0; i < text.size(); i += 3) {
        std::string bad = text;
        bad[i] = '@';
        try {
            Cb::parseSignature(bad);
        } catch (const ztx::base& error) {
            ASSERT_EQ(0u, std::string(error.what()).rfind("Syntax error on line ", 0)) << error.what();
        }
    }
}
