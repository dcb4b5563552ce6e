// Library start-up and shutdown: nesting, what begin(false) leaves out, the
// failures of start-up and what the matching end releases, and the shipped
// installation folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../factory/FactoryTestSupport.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/factory/Startup.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/qel/QelContext.h"
#include "cb/values/ValueTypes.h"

using testsupport::messageOf;
using testsupport::ScopedEnv;

namespace {

// One letter per piece of process-wide state that end() releases, '-' for each one gone.
std::string state() {
    return std::string(Cb::Factory::exists() ? "F" : "-") + (Cb::QelContext::global() ? "Q" : "-") +
           (Cb::valueAllocators().empty() ? "-" : "V") + (Cb::valueTypeTests().empty() ? "-" : "v") +
           (Cb::toggleGroup() ? "T" : "-") + (Cb::channelCreateTable().empty() ? "-" : "C") +
           (Cb::channelTestTable().empty() ? "-" : "c");
}

TEST(Startup, NestedBeginsReleaseOnlyAtTheOutermostEndAndBodiesNeedCorixPath) {
    factorytest::LibraryGuard guard;
    ScopedEnv unset("CORIX_PATH", nullptr);  // not needed without bodies
    testsupport::TempDir dir;
    EXPECT_EQ("-------", state());
    EXPECT_EQ("Factory NULL instance", messageOf([] { Cb::Factory::instance(); }));
    Cb::begin(false);
    Cb::Factory& factory = Cb::Factory::instance();
    Cb::begin(true);  // nested: the flag is ignored, nothing is made again
    EXPECT_EQ(&factory, &Cb::Factory::instance());
    EXPECT_TRUE(factory.hasBodyReader("ztp") && factory.hasBodyWriter("ztp"));
    EXPECT_TRUE(factory.bodyCodeNames().empty() && factory.signatureNames().empty());
    Cb::end();
    EXPECT_EQ("FQVvTCc", state());
    ASSERT_TRUE(Cb::openLogFile(dir.file("library.log")));
    Cb::end();
    EXPECT_EQ("-------", state());
    EXPECT_EQ(nullptr, Cb::logFile());
    Cb::end();  // without a begin: ignored, so the next start-up still works
    EXPECT_EQ(0, Cb::startupDepth());
    EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.", messageOf([] { Cb::begin(true); }));
    EXPECT_EQ(13u, Cb::Factory::instance().bodyCodeNames().size());  // the built-in types are registered by then
    Cb::end();  // a start-up that threw is released by its end
    EXPECT_EQ("-------", state());
    ScopedEnv empty("CORIX_PATH", "");
    EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.", messageOf([] { Cb::begin(true); }));
    Cb::end();

    // The scoped form: a failed start-up is ended before the exception leaves,
    // stop() ends once and the scope's end does nothing more.
    EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.",
              messageOf([] { Cb::Session session(true); }));
    EXPECT_EQ("-------", state());
    {
        Cb::Session outer(false);
        {
            Cb::Session inner(false);
            EXPECT_EQ(2, Cb::startupDepth());
        }
        outer.stop();
        outer.stop();
        EXPECT_EQ(0, Cb::startupDepth());
    }
    EXPECT_EQ(0, Cb::startupDepth());
}

TEST(Startup, MissingDirectoriesAreOnlyReportedAndTheShippedSignaturesLoad) {
    factorytest::LibraryGuard guard;
    factorytest::Installation install;
    testsupport::CaptureStderr err;
    Cb::begin(true);
    EXPECT_EQ("***** CORIX ERROR: Invalid path: " + install.standardDir + "/*\n***** CORIX ERROR: Invalid path: " +
                  install.userDir + "/*\n",
              err.finish());
    EXPECT_EQ((std::vector<std::string>{"Body", "Camera", "Field", "Mesh", "Volume", "Field-Gas", "Field-Fire",
                                        "Field-Smoke", "Particle", "Particle-Liquid", "Rigid-Body", "Hair", "Tet"}),
              Cb::builtinBodyTypes());
    for (const std::string& type : Cb::builtinBodyTypes())
        EXPECT_EQ("water", std::unique_ptr<Cb::Body>(Cb::Factory::instance().allocBody(type, "water"))->name()) << type;
    Cb::end();

    // The installation folder of the repository.
    const std::string root = std::string(CB_SOURCE_DIR) + "/share/corix";
    ScopedEnv corix("CORIX_PATH", root.c_str());
    testsupport::CaptureStderr shipped;
    Cb::begin(true);
    EXPECT_EQ("Corix: Scanning " + root + "/server/standard-sig ...\nCorix: Compiled SIG: Field-Smoke\n" +
                  "Corix: Compiled SIG: Particle-Liquid\nCorix: Compiled SIG: Rigid-Body\nCorix: Scanning " + root +
                  "/server/user-sig ...\n",
              shipped.finish());
    std::unique_ptr<Cb::Body> body(Cb::Factory::instance().createFromSignature("Particle-Liquid"));
    EXPECT_EQ("Particle-Liquid", body->name());  // named after its type
    body.reset(Cb::Factory::instance().createFromSignature("Rigid-Body"));
    EXPECT_TRUE(body->hasChannels("Point.position Point.velocity Triangle.index Triangle.area Field.solid-distance"));
}

}  // namespace
