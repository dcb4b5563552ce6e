// Library start-up and shutdown: nesting, what begin(false) leaves out, every
// failure of start-up and what the matching end releases, and the shipped
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
#include "cb/fields/FieldChannel.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "cb/values/ValueTypes.h"

using factorytest::Installation;
using factorytest::LibraryGuard;
using factorytest::writeInto;
using testsupport::CaptureStderr;
using testsupport::messageOf;
using testsupport::ScopedEnv;

namespace {

// Whether every piece of process-wide state that end() releases is gone.
bool everythingReleased() {
    return !Cb::Factory::exists() && !Cb::QelContext::global() && Cb::valueAllocators().empty() &&
           Cb::valueTypeTests().empty() && !Cb::toggleGroup() && Cb::channelCreateTable().empty() &&
           Cb::channelTestTable().empty();
}

bool everythingPresent() {
    return Cb::Factory::exists() && Cb::QelContext::global() && !Cb::valueAllocators().empty() &&
           !Cb::valueTypeTests().empty() && Cb::toggleGroup() && !Cb::channelCreateTable().empty() &&
           !Cb::channelTestTable().empty();
}

void expectBuiltInTypesCreate() {
    ASSERT_EQ(13u, Cb::builtinBodyTypes().size());
    for (const std::string& type : Cb::builtinBodyTypes()) {
        std::unique_ptr<Cb::Body> body(Cb::Factory::instance().allocBody(type, "water"));
        EXPECT_EQ("water", body->name()) << type;
    }
}

TEST(Startup, NestedBeginsReleaseOnlyAtTheOutermostEnd) {
    LibraryGuard guard;
    Installation install;
    EXPECT_EQ(0, Cb::startupDepth());
    EXPECT_TRUE(everythingReleased());
    Cb::begin(false);
    Cb::QelContext* context = Cb::QelContext::global();
    Cb::Factory* factory = &Cb::Factory::instance();
    // A nested call ignores its flag: no body types appear.
    Cb::begin(true);
    EXPECT_EQ(2, Cb::startupDepth());
    EXPECT_FALSE(Cb::Factory::instance().hasBodyCode("Body"));
    EXPECT_EQ(context, Cb::QelContext::global());
    EXPECT_EQ(factory, &Cb::Factory::instance());
    Cb::end();
    EXPECT_EQ(1, Cb::startupDepth());
    EXPECT_TRUE(everythingPresent());
    Cb::end();
    EXPECT_EQ(0, Cb::startupDepth());
    EXPECT_TRUE(everythingReleased());
    // An end without a begin changes nothing, so the next pair still works.
    Cb::end();
    EXPECT_EQ(0, Cb::startupDepth());
    Cb::begin(false);
    EXPECT_EQ(1, Cb::startupDepth());
    EXPECT_TRUE(everythingPresent());
    Cb::end();
    EXPECT_TRUE(everythingReleased());
}

TEST(Startup, WithoutBodiesOnlyTheReaderAndWriterAreRegistered) {
    LibraryGuard guard;
    ScopedEnv unset("CORIX_PATH", nullptr);  // not needed without bodies
    Cb::begin(false);
    Cb::Factory& factory = Cb::Factory::instance();
    EXPECT_TRUE(factory.hasBodyReader("ztp"));
    EXPECT_TRUE(factory.hasBodyWriter("ztp"));
    EXPECT_TRUE(factory.bodyCodeNames().empty());
    EXPECT_TRUE(factory.signatureNames().empty());
    EXPECT_EQ("Error creating body of type 'Particle': not registered",
              messageOf([&] { factory.allocBody("Particle", "water"); }));
    // Shapes, channels and values are there all the same.
    std::unique_ptr<Cb::Shape> shape(Cb::createShape("Particle", true));
    EXPECT_EQ("Particle", shape->name());
    std::unique_ptr<Cb::Shape> field(Cb::createShape("Field", false));
    EXPECT_EQ("Field", field->name());
    EXPECT_EQ((std::vector<std::string>{"Off", "On"}), Cb::toggleGroup()->names());
    EXPECT_NE(nullptr, Cb::QelContext::global());
}

TEST(Startup, AnUnsetCorixPathThrowsAfterTheBuiltInTypes) {
    LibraryGuard guard;
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv corix("CORIX_PATH", value);
        EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.", messageOf([] { Cb::begin(true); }));
        EXPECT_EQ(1, Cb::startupDepth());
        EXPECT_TRUE(everythingPresent());
        EXPECT_EQ(Cb::builtinBodyTypes().size(), Cb::Factory::instance().bodyCodeNames().size());
        expectBuiltInTypesCreate();
        EXPECT_TRUE(Cb::Factory::instance().signatureNames().empty());
        Cb::end();
        EXPECT_EQ(0, Cb::startupDepth());
        EXPECT_TRUE(everythingReleased());
    }
}

TEST(Startup, MissingSignatureDirectoriesAreOnlyReported) {
    LibraryGuard guard;
    Installation install;
    CaptureStderr err;
    Cb::begin(true);
    EXPECT_EQ("***** CORIX ERROR: Invalid path: " + install.root + "/server/standard-sig/*\n" +
                  "***** CORIX ERROR: Invalid path: " + install.root + "/server/user-sig/*\n",
              err.finish());
    EXPECT_EQ((std::vector<std::string>{"Body", "Camera", "Field", "Mesh", "Volume", "Field-Gas", "Field-Fire",
                                        "Field-Smoke", "Particle", "Particle-Liquid", "Rigid-Body", "Hair", "Tet"}),
              Cb::builtinBodyTypes());
    expectBuiltInTypesCreate();
    EXPECT_EQ("Error creating body of type 'Foo': not registered",
              messageOf([] { Cb::Factory::instance().allocBody("Foo", "f"); }));
    Cb::end();
    EXPECT_TRUE(everythingReleased());
}

TEST(Startup, ASignatureThatFailsToParseStopsStartUp) {
    LibraryGuard guard;
    Installation install;
    writeInto(install.standardDir, "a.sig", factorytest::smallSignature("Particle"));
    const std::string bad = writeInto(install.standardDir, "b.sig",
                                      "BodySignature Camera\n{\n    PropSection \"View\" { Float \"Lens\" \"35\" ?? }\n}\n");
    writeInto(install.standardDir, "c.sig", factorytest::smallSignature("Tet"));
    EXPECT_EQ("Error parsing " + bad + ": Syntax error on line 3: ?? }", messageOf([] { Cb::begin(true); }));
    EXPECT_EQ(1, Cb::startupDepth());
    EXPECT_EQ(std::vector<std::string>{"Particle"}, Cb::Factory::instance().signatureNames());
    Cb::end();
    EXPECT_TRUE(everythingReleased());
}

TEST(Startup, EndClosesTheLibraryLogFile) {
    LibraryGuard guard;
    testsupport::TempDir dir;
    Cb::begin(false);
    ASSERT_TRUE(Cb::openLogFile(dir.file("library.log")));
    Cb::logWarning("kept in the file");
    Cb::end();
    EXPECT_EQ(nullptr, Cb::logFile());
    EXPECT_NE(std::string::npos, testsupport::readText(dir.file("library.log")).find("kept in the file"));
}

// The installation folder of the repository, as the README's example uses it.
TEST(Startup, TheShippedSignaturesLoadAndBuildTheirBodies) {
    LibraryGuard guard;
    const std::string root = std::string(CB_SOURCE_DIR) + "/share/corix";
    ScopedEnv corix("CORIX_PATH", root.c_str());
    ScopedEnv userPath("CORIX_USER_SIG_PATH", nullptr);
    CaptureStderr err;
    Cb::begin(true);
    const std::string log = err.finish();
    EXPECT_EQ(std::string::npos, log.find("ERROR")) << log;
    EXPECT_EQ(std::string::npos, log.find("WARNING")) << log;
    Cb::Factory& factory = Cb::Factory::instance();
    EXPECT_EQ((std::vector<std::string>{"Field-Smoke", "Particle-Liquid", "Rigid-Body"}), factory.signatureNames());

    std::unique_ptr<Cb::Body> liquid(factory.createFromSignature("Particle-Liquid"));
    EXPECT_EQ("Particle-Liquid", liquid->name());
    ASSERT_EQ(3, liquid->sectionCount());
    EXPECT_EQ("Stepping", liquid->sectionAt(0)->name());
    EXPECT_EQ("Fluid", liquid->sectionAt(1)->name());
    auto* motion = dynamic_cast<Cb::Value1e*>(liquid->value("Motion Type"));
    ASSERT_NE(nullptr, motion);
    EXPECT_EQ("MotionTypeEnum", motion->group()->name());
    EXPECT_EQ((std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}), motion->group()->names());
    EXPECT_TRUE(liquid->isEvolving());
    EXPECT_TRUE(liquid->hasChannels("Particle.position Particle.velocity Particle.id64 Particle.density"));
    auto* splat = dynamic_cast<Cb::FieldChannelBase*>(liquid->channel("Field.velocity"));
    ASSERT_NE(nullptr, splat);
    EXPECT_EQ(Cb::kFieldUpdateParticleSplat, splat->updateMode());

    std::unique_ptr<Cb::Body> rigid(factory.createFromSignature("Rigid-Body"));
    EXPECT_TRUE(rigid->hasChannels("Point.position Point.velocity Triangle.index Triangle.area Field.solid-distance"));
    std::unique_ptr<Cb::Body> smoke(factory.createFromSignature("Field-Smoke"));
    EXPECT_EQ(2, smoke->sectionCount());
    EXPECT_TRUE(smoke->hasChannels("Field.velocity Field.density Field.temperature Field.fuel"));
    Cb::end();
}

}  // namespace
