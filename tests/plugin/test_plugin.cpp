// Real plug-in libraries, built beside this test: loading one found next to
// its signature under either name, bodies of its own class created across the
// library boundary and let go by the converter before the code is unloaded,
// a folder named with backslashes, each way a load fails, and registered code
// first.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "../factory/FactoryTestSupport.h"
#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "MessageOf.h"
#include "ParticleBodies.h"
#include "cb/factory/Factory.h"
#include "cb/values/ValueBase.h"

namespace {

class Plugin : public ::testing::Test {
protected:
    // Starts the library with a user signature directory holding the signature
    // of `type` and `library` (when given) as `fileName`; returns the failure.
    std::string start(const char* library, const std::string& fileName, const std::string& type = "Test-Plugin") {
        std::filesystem::remove_all(dir_);
        factorytest::writeInto(dir_, "plugin.sig", factorytest::smallSignature(type));
        if (library) std::filesystem::copy_file(library, dir_ + "/" + fileName);
        testsupport::CaptureStderr err;
        const std::string failure = testsupport::messageOf([] { Cb::begin(true); });
        log_ = err.finish();
        return failure;
    }
    static Cb::Factory& factory() { return Cb::Factory::instance(); }

    factorytest::LibraryGuard guard_;
    factorytest::Installation install_;
    const std::string dir_ = install_.root + "/plugins", first_ = dir_ + "/Test-Plugin.so";
    testsupport::ScopedEnv userPath_{"CORIX_USER_SIG_PATH", dir_.c_str()};
    std::string log_;
};

TEST_F(Plugin, ALibraryBesideItsSignatureSuppliesTheBodyCodeUnderEitherName) {
    for (const char* fileName : {"Test-Plugin.so", "Test-Plugind.so"}) {
        SCOPED_TRACE(fileName);
        ASSERT_EQ("(no failure)", start(CB_PLUGIN_GOOD, fileName));
        EXPECT_NE(std::string::npos, log_.find("Compiled SIG: Test-Plugin\nCorix: Loaded user body code: Test-Plugin\n"));
        EXPECT_TRUE(factory().hasPlugin("Test-Plugin"));
        // The plug-in's own override answers: the objects are of its class.
        EXPECT_EQ("plug-in body p1", std::unique_ptr<Cb::Body>(factory().allocBody("Test-Plugin", "p1"))->emptyText());
        std::unique_ptr<Cb::Body> built(factory().createFromSignature("Test-Plugin"));
        EXPECT_EQ("plug-in body Test-Plugin", built->emptyText());
        EXPECT_EQ("1.0", built->value("Size")->expression(0));
        built.reset();
        testsupport::CaptureStderr err;
        Cb::end();  // the clean-up BeginPlugin registered runs before the library goes
        EXPECT_EQ("Corix: Test plug-in cleaned up\n", err.finish());
    }
}

TEST_F(Plugin, TheConverterDropsPluginBodiesBeforeTheLibraryUnloadsTheirCode) {
    ASSERT_EQ("(no failure)", start(CB_PLUGIN_GOOD, "Test-Plugin.so"));
    const std::string in = install_.root + "/in.ztp", out = install_.root + "/out.txscene";
    std::unique_ptr<Cb::Body> body(factory().createFromSignature("Test-Plugin"));
    body->setSignatureName("Test-Plugin");  // read back through the plug-in's code
    testsupport::writeBodies(in, {body.get()});
    body.reset();
    bool written = false;
    {
        testsupport::CaptureStdout quiet;
        testsupport::CaptureStderr err;
        Cb::end();
        // The reader's stored body is of the plug-in's class: freed after the
        // converter's Cb::end() it would run code that is no longer loaded.
        written = exportParticles(in.c_str(), out.c_str(), "p", 0.1f, 24.0f, 1.0f);
    }
    EXPECT_TRUE(written);
}

TEST_F(Plugin, AFolderWrittenWithBackslashesGivesItsSignaturesAndLibrary) {
    std::string backslashed = dir_;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    testsupport::ScopedEnv userPath("CORIX_USER_SIG_PATH", backslashed.c_str());
    ASSERT_EQ("(no failure)", start(CB_PLUGIN_GOOD, "Test-Plugin.so"));
    EXPECT_NE(std::string::npos, log_.find("Compiled SIG: Test-Plugin\nCorix: Loaded user body code: Test-Plugin\n"));
    EXPECT_TRUE(factory().hasPlugin("Test-Plugin"));
}

TEST_F(Plugin, EveryFailedLoadNamesTheFirstPathTried) {
    EXPECT_EQ("BeginPlugin(" + first_ + ") failed", start(CB_PLUGIN_BEGIN_FAILS, "Test-Plugin.so"));
    EXPECT_FALSE(factory().hasPlugin("Test-Plugin"));
    // Its UserBodyAlloc was registered on sight and stays callable.
    EXPECT_EQ("plug-in body p", std::unique_ptr<Cb::Body>(factory().allocBody("Test-Plugin", "p"))->emptyText());
    Cb::end();
    EXPECT_EQ("Error retrieving 'EndPlugin' from: " + first_, start(CB_PLUGIN_NO_END, "Test-Plugind.so"));
    Cb::end();
    EXPECT_EQ("Error opening " + first_ + " to load user body code.", start(nullptr, ""));
    Cb::end();
    factorytest::writeInto(dir_, "Test-Plugin.so", "not a shared library");  // counts as missing
    EXPECT_EQ("Error opening " + first_ + " to load user body code.",
              testsupport::messageOf([] { Cb::begin(true); }));
}

TEST_F(Plugin, RegisteredCodeTakesPrecedenceOverALibrary) {
    // A user signature for a built-in type never opens a library of its name.
    ASSERT_EQ("(no failure)", start(CB_PLUGIN_GOOD, "Particle.so", "Particle"));
    EXPECT_FALSE(factory().hasPlugin("Particle"));
    EXPECT_EQ("", std::unique_ptr<Cb::Body>(factory().allocBody("Particle", "water"))->emptyText());
}

}  // namespace
