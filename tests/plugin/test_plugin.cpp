// Real plug-in libraries, built beside this test: loading one found next to
// its signature, bodies of its own class created across the library
// boundary, the d.so fallback, and each way a load fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "../factory/FactoryTestSupport.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "cb/factory/Factory.h"
#include "cb/factory/Startup.h"
#include "cb/model/Body.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueSection.h"

using factorytest::Installation;
using factorytest::LibraryGuard;
using factorytest::writeInto;
using testsupport::CaptureStderr;
using testsupport::messageOf;
using testsupport::ScopedEnv;

namespace {

const char* kSignature = R"(BodySignature Test-Plugin || a body type whose code lives in a plug-in
{
    PropSection "Main" { Float "Strength" "2.5" MIN= 0 }
    Channels { Vec3f Particle.velocity 0 0 0 }
}
)";

// A user signature directory holding the signature and `library` copied in
// under `fileName`, named by CORIX_USER_SIG_PATH.
class PluginDir {
public:
    PluginDir(const char* library, const std::string& fileName)
        : dir_(install_.root + "/plugins"), userPath_("CORIX_USER_SIG_PATH", dir_.c_str()) {
        writeInto(dir_, "test-plugin.sig", kSignature);
        if (library) std::filesystem::copy_file(library, dir_ + "/" + fileName);
    }
    const std::string& dir() const { return dir_; }

private:
    Installation install_;
    std::string dir_;
    ScopedEnv userPath_;
};

void expectPluginBodies() {
    Cb::Factory& factory = Cb::Factory::instance();
    EXPECT_TRUE(factory.hasPlugin("Test-Plugin"));
    std::unique_ptr<Cb::Body> body(factory.allocBody("Test-Plugin", "p1"));
    ASSERT_NE(nullptr, body);
    // The plug-in's own override answers: the object is of its class.
    EXPECT_EQ("plug-in body p1", body->emptyText());

    const Cb::Body* prototype = factory.prototype("Test-Plugin");
    ASSERT_NE(nullptr, prototype);
    EXPECT_EQ("plug-in body Test-Plugin", prototype->emptyText());
    std::unique_ptr<Cb::Body> built(factory.createFromSignature("Test-Plugin"));
    EXPECT_EQ("plug-in body Test-Plugin", built->emptyText());
    EXPECT_EQ("2.5", built->value("Strength")->expression(0));
    EXPECT_TRUE(built->hasChannels("Particle.position Particle.velocity"));
}

TEST(Plugin, ALibraryBesideItsSignatureSuppliesTheBodyCode) {
    LibraryGuard guard;
    PluginDir plugins(CB_PLUGIN_GOOD, "Test-Plugin.so");
    CaptureStderr err;
    Cb::begin(true);
    const std::string log = err.finish();
    EXPECT_NE(std::string::npos, log.find("Corix: Compiled SIG: Test-Plugin\nCorix: Loaded user body code: Test-Plugin\n"))
        << log;
    expectPluginBodies();
    // BeginPlugin registered a clean-up, which runs before the library goes.
    CaptureStderr endErr;
    Cb::end();
    EXPECT_EQ("Corix: Test plug-in cleaned up\n", endErr.finish());
}

TEST(Plugin, TheDebugNameIsTriedSecond) {
    LibraryGuard guard;
    PluginDir plugins(CB_PLUGIN_GOOD, "Test-Plugind.so");
    CaptureStderr err;
    Cb::begin(true);
    EXPECT_NE(std::string::npos, err.finish().find("Corix: Loaded user body code: Test-Plugin\n"));
    expectPluginBodies();
    Cb::end();
}

TEST(Plugin, ALibraryThatRefusesToBeginFailsStartUp) {
    LibraryGuard guard;
    PluginDir plugins(CB_PLUGIN_BEGIN_FAILS, "Test-Plugin.so");
    const std::string path = plugins.dir() + "/Test-Plugin.so";
    EXPECT_EQ("BeginPlugin(" + path + ") failed", messageOf([] { Cb::begin(true); }));
    Cb::Factory& factory = Cb::Factory::instance();
    EXPECT_FALSE(factory.hasPlugin("Test-Plugin"));
    EXPECT_EQ(nullptr, factory.prototype("Test-Plugin"));
    // Its UserBodyAlloc was registered on sight and stays callable.
    ASSERT_TRUE(factory.hasBodyCode("Test-Plugin"));
    std::unique_ptr<Cb::Body> body(factory.allocBody("Test-Plugin", "kept"));
    EXPECT_EQ("plug-in body kept", body->emptyText());
    body.reset();
    Cb::end();
}

TEST(Plugin, AMissingExportFailsWithItsName) {
    LibraryGuard guard;
    PluginDir plugins(CB_PLUGIN_NO_END, "Test-Plugind.so");
    // The message names the first path tried, whichever was loaded.
    EXPECT_EQ("Error retrieving 'EndPlugin' from: " + plugins.dir() + "/Test-Plugin.so",
              messageOf([] { Cb::begin(true); }));
    EXPECT_TRUE(Cb::Factory::instance().hasBodyCode("Test-Plugin"));
    EXPECT_FALSE(Cb::Factory::instance().hasPlugin("Test-Plugin"));
    Cb::end();
}

TEST(Plugin, NoLoadableLibraryFailsWithTheFirstPath) {
    LibraryGuard guard;
    PluginDir missing(nullptr, "");
    EXPECT_EQ("Error opening " + missing.dir() + "/Test-Plugin.so to load user body code.",
              messageOf([] { Cb::begin(true); }));
    EXPECT_FALSE(Cb::Factory::instance().hasBodyCode("Test-Plugin"));
    Cb::end();

    // A file of that name that is no library counts as missing.
    PluginDir broken(nullptr, "");
    writeInto(broken.dir(), "Test-Plugin.so", "not a shared library");
    EXPECT_EQ("Error opening " + broken.dir() + "/Test-Plugin.so to load user body code.",
              messageOf([] { Cb::begin(true); }));
    Cb::end();
}

TEST(Plugin, RegisteredCodeTakesPrecedenceOverALibrary) {
    LibraryGuard guard;
    // A user signature for a built-in type never opens a library of its name.
    Installation install;
    const std::string dir = install.root + "/plugins";
    writeInto(dir, "particle.sig", factorytest::smallSignature("Particle"));
    std::filesystem::copy_file(CB_PLUGIN_GOOD, dir + "/Particle.so");
    ScopedEnv userPath("CORIX_USER_SIG_PATH", dir.c_str());
    CaptureStderr err;
    Cb::begin(true);
    EXPECT_NE(std::string::npos, err.finish().find("Skipping body 'Particle': already loaded\n"));
    EXPECT_FALSE(Cb::Factory::instance().hasPlugin("Particle"));
    std::unique_ptr<Cb::Body> body(Cb::Factory::instance().allocBody("Particle", "water"));
    EXPECT_EQ("", body->emptyText());
    Cb::end();
}

}  // namespace
