// Finding signatures: the directory list from CORIX_PATH and
// CORIX_USER_SIG_PATH, which files of a directory are compiled, the scanning
// report, and the precedence of directories.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "FactoryTestSupport.h"
#include "MessageOf.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"
#include "cb/sig/SigRoot.h"

using factorytest::Installation;
using factorytest::smallSignature;
using factorytest::writeInto;
using testsupport::CaptureStderr;
using testsupport::messageOf;
using testsupport::ScopedEnv;

namespace {

using Dirs = std::vector<std::string>;

Cb::Object* allocNamed(const char*, const char* name) { return new Cb::Body(name); }

class SignatureDirs : public ::testing::Test {
protected:
    void SetUp() override { Cb::begin(false); }
    Cb::Factory& factory() { return Cb::Factory::instance(); }
    // Signatures without plug-ins need registered code.
    void registerCode(std::initializer_list<const char*> types) {
        for (const char* type : types) factory().registerBodyCode(type, &allocNamed);
    }

    factorytest::LibraryGuard guard_;
    Installation install_;
};

TEST_F(SignatureDirs, StandardThenUserPathPiecesThenUser) {
    const std::string root = install_.root();
    EXPECT_EQ((Dirs{root + "/server/standard-sig", root + "/server/user-sig"}), Cb::Factory::signatureDirectories());
    {
        ScopedEnv userPath("CORIX_USER_SIG_PATH", "/one;/two/sigs");
        EXPECT_EQ((Dirs{root + "/server/standard-sig", "/one", "/two/sigs", root + "/server/user-sig"}),
                  Cb::Factory::signatureDirectories());
    }
    {
        // Empty pieces name nothing; one trailing separator of the whole
        // variable goes as for every variable.
        ScopedEnv userPath("CORIX_USER_SIG_PATH", ";/one;;/two/;");
        EXPECT_EQ((Dirs{root + "/server/standard-sig", "/one", "/two/", root + "/server/user-sig"}),
                  Cb::Factory::signatureDirectories());
        ScopedEnv empty("CORIX_USER_SIG_PATH", "");
        EXPECT_EQ(2u, Cb::Factory::signatureDirectories().size());
    }
    {
        const std::string slashed = root + "/";
        ScopedEnv corix("CORIX_PATH", slashed.c_str());
        EXPECT_EQ((Dirs{root + "/server/standard-sig", root + "/server/user-sig"}),
                  Cb::Factory::signatureDirectories());
    }
    ScopedEnv unset("CORIX_PATH", nullptr);
    EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.",
              messageOf([] { Cb::Factory::signatureDirectories(); }));
}

TEST_F(SignatureDirs, OnlyLowerAndCapitalisedSigExtensionsAreCompiled) {
    registerCode({"Alpha", "Beta"});
    const std::string dir = install_.standardDir();
    writeInto(dir, "a.sig", smallSignature("Alpha"));
    writeInto(dir, "b.Sig", smallSignature("Beta"));
    // Each of these would fail start-up if it were compiled.
    for (const char* name : {"c.SIG", ".sig", "sig", "d.sigs", "e.sig.txt"}) writeInto(dir, name, "not a signature");
    CaptureStderr err;
    factory().scanSignatureDirectory(dir, false);
    EXPECT_EQ("Corix: Scanning " + dir + " ...\nCorix: Compiled SIG: Alpha\nCorix: Compiled SIG: Beta\n", err.finish());
    EXPECT_EQ((Dirs{"Alpha", "Beta"}), factory().signatureNames());
}

TEST_F(SignatureDirs, TheScanIsReportedOnlyForDirectoriesWithFiles) {
    const std::string empty = install_.extraDir("empty");
    const std::string other = install_.extraDir("other");
    writeInto(other, "notes.txt", "nothing here");
    std::filesystem::create_directories(empty);
    std::filesystem::create_directories(other + "/inner.sig");  // a directory, not a file
    CaptureStderr err;
    factory().scanSignatureDirectory(empty, true);
    factory().scanSignatureDirectory(other, true);
    factory().scanSignatureDirectory(install_.extraDir("missing"), true);
    EXPECT_EQ("Corix: Scanning " + other + " ...\n***** CORIX ERROR: Invalid path: " + install_.extraDir("missing") +
                  "/*\n",
              err.finish());
    EXPECT_TRUE(factory().signatureNames().empty());
}

TEST_F(SignatureDirs, TheFirstDirectoryWinsInDirectoryThenFileOrder) {
    registerCode({"Particle-Liquid", "Smoke"});
    const std::string first = install_.extraDir("first");
    const std::string second = install_.extraDir("second");
    writeInto(install_.standardDir(), "z.sig", smallSignature("Smoke", "standard"));
    writeInto(first, "liquid.sig", smallSignature("Particle-Liquid", "first"));
    writeInto(second, "a.sig", smallSignature("Particle-Liquid", "second"));
    writeInto(second, "b.sig", smallSignature("Smoke", "second"));
    writeInto(install_.userDir(), "a.sig", smallSignature("Smoke", "user"));
    const std::string list = first + ";" + second;
    ScopedEnv userPath("CORIX_USER_SIG_PATH", list.c_str());
    CaptureStderr err;
    factory().loadSignatures();
    const std::string log = err.finish();
    EXPECT_EQ(" first", factory().signature("Particle-Liquid")->description()->text());
    EXPECT_EQ(" standard", factory().signature("Smoke")->description()->text());
    const std::string skipLiquid =
        "Corix ** WARNING ** : Skipping signature 'Particle-Liquid': signature has already been declared.\n";
    const std::string skipSmoke = "Corix ** WARNING ** : Skipping signature 'Smoke': signature has already been declared.\n";
    EXPECT_EQ("Corix: Scanning " + install_.standardDir() + " ...\nCorix: Compiled SIG: Smoke\n" +
                  "Corix: Scanning " + first + " ...\nCorix: Compiled SIG: Particle-Liquid\n" +
                  "Corix ** WARNING ** : Skipping body 'Particle-Liquid': already loaded\n" +
                  "Corix: Scanning " + second + " ...\nCorix: Compiled SIG: Particle-Liquid\n" + skipLiquid +
                  "Corix: Compiled SIG: Smoke\n" + skipSmoke + "Corix: Scanning " + install_.userDir() +
                  " ...\nCorix: Compiled SIG: Smoke\n" + skipSmoke,
              log);
}

TEST_F(SignatureDirs, AUserSignatureForABuiltInTypeWarnsAndStillLoads) {
    registerCode({"Particle", "Camera"});
    writeInto(install_.standardDir(), "camera.sig", smallSignature("Camera"));
    writeInto(install_.userDir(), "particle.sig", smallSignature("Particle"));
    CaptureStderr err;
    factory().loadSignatures();
    const std::string log = err.finish();
    EXPECT_NE(std::string::npos, log.find("Corix ** WARNING ** : Skipping body 'Particle': already loaded\n"));
    EXPECT_EQ(std::string::npos, log.find("Skipping body 'Camera'"));
    ASSERT_NE(nullptr, factory().prototype("Particle"));
    EXPECT_EQ("Particle", factory().prototype("Particle")->name());
    EXPECT_NE(nullptr, factory().prototype("Camera"));
}

TEST_F(SignatureDirs, ABadFileStopsTheLoadAndKeepsWhatCameBefore) {
    registerCode({"Alpha", "Gamma"});
    const std::string dir = install_.standardDir();
    writeInto(dir, "a.sig", smallSignature("Alpha"));
    const std::string bad = writeInto(dir, "b.sig", "BodySignature Beta\n{\n    PropSection \"S\" { Float \"A\" \"1\" ] }\n}\n");
    writeInto(dir, "c.sig", smallSignature("Gamma"));
    EXPECT_EQ("Error parsing " + bad + ": Syntax error on line 3: ] }", messageOf([&] { factory().loadSignatures(); }));
    EXPECT_EQ((Dirs{"Alpha"}), factory().signatureNames());
}

}  // namespace
