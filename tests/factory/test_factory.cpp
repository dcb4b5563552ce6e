// The factory's tables: body code, readers and writers with their "Skipping"
// warnings, body allocation and its three failures, bodies built from
// signatures, signature loading with its precedence rules, and the order in
// which the factory takes itself apart.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "FactoryTestSupport.h"
#include "MessageOf.h"
#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/SigRoot.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueSection.h"

using testsupport::CaptureStderr;
using testsupport::messageOf;

namespace {

class NotABody : public Cb::Object {
public:
    std::string name() const override { return "not a body"; }
};

Cb::Object* allocNamed(const char*, const char* name) { return new Cb::Body(name); }
Cb::Object* allocFirst(const char*, const char*) { return new Cb::Body("first"); }
Cb::Object* allocNull(const char*, const char*) { return nullptr; }
Cb::Object* allocOther(const char*, const char*) { return new NotABody(); }
// Records the type name it was called with, as the body's name.
Cb::Object* allocTypeEcho(const char* type, const char*) { return new Cb::Body(type); }

class FactoryTables : public ::testing::Test {
protected:
    void SetUp() override { Cb::begin(false); }
    Cb::Factory& factory() { return Cb::Factory::instance(); }

    factorytest::LibraryGuard guard_;
};

TEST(FactoryInstance, IsNullOutsideAStartedLibrary) {
    factorytest::LibraryGuard guard;
    EXPECT_FALSE(Cb::Factory::exists());
    EXPECT_EQ("Factory NULL instance", messageOf([] { Cb::Factory::instance(); }));
    Cb::begin(false);
    EXPECT_TRUE(Cb::Factory::exists());
    Cb::end();
    EXPECT_EQ("Factory NULL instance", messageOf([] { Cb::Factory::instance(); }));
}

TEST_F(FactoryTables, BodyCodeKeepsTheFirstRegistration) {
    factory().registerBodyCode("Thing", &allocFirst);
    CaptureStderr err;
    factory().registerBodyCode("Thing", &allocNamed);
    EXPECT_EQ("Corix ** WARNING ** : Skipping body 'Thing': body code has already been loaded.\n", err.finish());
    std::unique_ptr<Cb::Body> body(factory().allocBody("Thing", "t"));
    EXPECT_EQ("first", body->name());
}

TEST_F(FactoryTables, AllocBodyNamesTheBodyAndReportsEachFailure) {
    factory().registerBodyCode("Thing", &allocNamed);
    factory().registerBodyCode("Echo", &allocTypeEcho);
    factory().registerBodyCode("Null", &allocNull);
    factory().registerBodyCode("Other", &allocOther);
    std::unique_ptr<Cb::Body> body(factory().allocBody("Thing", "water"));
    EXPECT_EQ("water", body->name());
    std::unique_ptr<Cb::Body> echo(factory().allocBody("Echo", "x"));
    EXPECT_EQ("Echo", echo->name());

    EXPECT_EQ("Error creating body of type 'Foo': not registered",
              messageOf([&] { factory().allocBody("Foo", "f"); }));
    EXPECT_EQ("Error creating body of type 'thing': not registered",
              messageOf([&] { factory().allocBody("thing", "f"); }));
    EXPECT_EQ("Error allocating body of type 'Null'", messageOf([&] { factory().allocBody("Null", "n"); }));
    // The object of another class is freed, not leaked (the sanitizer build checks).
    EXPECT_EQ("Error creating body of type 'Other': type is not a body!",
              messageOf([&] { factory().allocBody("Other", "o"); }));
}

TEST_F(FactoryTables, ReadersAndWritersAreZtpAndKeepTheFirst) {
    factory().registerBodyReader("ztp");
    factory().registerBodyWriter("ztp");
    CaptureStderr err;
    factory().registerBodyReader("ztp");
    factory().registerBodyWriter("ztp");
    EXPECT_EQ(
        "Corix ** WARNING ** : Skipping body reader 'ztp': already loaded.\n"
        "Corix ** WARNING ** : Skipping body writer 'ztp': already loaded.\n",
        err.finish());
    EXPECT_NE(nullptr, dynamic_cast<Cb::ZtpReader*>(factory().createBodyReader("ztp").get()));
    EXPECT_NE(nullptr, dynamic_cast<Cb::ZtpWriter*>(factory().createBodyWriter("ztp").get()));
    EXPECT_EQ("No body reader registered as 'ZTP'", messageOf([&] { factory().createBodyReader("ZTP"); }));
    EXPECT_EQ("No body writer registered as 'abc'", messageOf([&] { factory().createBodyWriter("abc"); }));
}

TEST_F(FactoryTables, CreateFromSignatureNamesTheBodyAfterItsType) {
    EXPECT_EQ("Can't create body of type 'Liquid': missing .Sig",
              messageOf([&] { factory().createFromSignature("Liquid"); }));
    factory().registerBodyCode("Liquid", &allocNamed);
    // Registered code alone does not make a signature.
    EXPECT_EQ("Can't create body of type 'Liquid': missing .Sig",
              messageOf([&] { factory().createFromSignature("Liquid"); }));

    factorytest::Installation install;
    const std::string dir = install.standardDir();
    CaptureStderr err;
    factory().loadSignature(dir, Cb::parseSignature(factorytest::smallSignature("Liquid")), false);
    EXPECT_EQ("", err.finish());
    std::unique_ptr<Cb::Body> body(factory().createFromSignature("Liquid"));
    EXPECT_EQ("Liquid", body->name());
    EXPECT_EQ("Main", body->sectionAt(0)->name());
    EXPECT_EQ("1.0", body->value("Size")->expression(0));
    const Cb::Body* prototype = factory().prototype("Liquid");
    ASSERT_NE(nullptr, prototype);
    EXPECT_NE(prototype, body.get());
    EXPECT_EQ("Liquid", prototype->name());
}

TEST_F(FactoryTables, TheFirstSignatureOfANameWins) {
    factory().registerBodyCode("Liquid", &allocNamed);
    factorytest::Installation install;
    factory().loadSignature(install.standardDir(), Cb::parseSignature(factorytest::smallSignature("Liquid", "first")), false);
    CaptureStderr err;
    factory().loadSignature(install.userDir(), Cb::parseSignature(factorytest::smallSignature("Liquid", "second")), true);
    EXPECT_EQ("Corix ** WARNING ** : Skipping signature 'Liquid': signature has already been declared.\n",
              err.finish());
    EXPECT_EQ(" first", factory().signature("Liquid")->description()->text());
    EXPECT_EQ(std::vector<std::string>{"Liquid"}, factory().signatureNames());
}

TEST_F(FactoryTables, RegisteredCodeIsKeptAndOnlyUserDirectoriesSayso) {
    factory().registerBodyCode("Particle", &allocNamed);
    factory().registerBodyCode("Camera", &allocNamed);
    factorytest::Installation install;
    CaptureStderr err;
    factory().loadSignature(install.standardDir(), Cb::parseSignature(factorytest::smallSignature("Particle")), false);
    EXPECT_EQ("", err.finish());
    CaptureStderr userErr;
    factory().loadSignature(install.userDir(), Cb::parseSignature(factorytest::smallSignature("Camera")), true);
    EXPECT_EQ("Corix ** WARNING ** : Skipping body 'Camera': already loaded\n", userErr.finish());
    EXPECT_NE(nullptr, factory().prototype("Particle"));
    EXPECT_NE(nullptr, factory().prototype("Camera"));
    EXPECT_FALSE(factory().hasPlugin("Camera"));
}

TEST_F(FactoryTables, ASignatureWithoutCodeNeedsItsLibrary) {
    factorytest::Installation install;
    const std::string dir = install.standardDir();
    EXPECT_EQ("Error opening " + dir + "/Mystery.so to load user body code.",
              messageOf([&] {
                  factory().loadSignature(dir, Cb::parseSignature(factorytest::smallSignature("Mystery")), false);
              }));
    // The signature stays stored; no prototype was made.
    EXPECT_NE(nullptr, factory().signature("Mystery"));
    EXPECT_EQ(nullptr, factory().prototype("Mystery"));
    EXPECT_FALSE(factory().hasBodyCode("Mystery"));

    EXPECT_EQ("Found code for user body 'Ghost' but no matching .Sig file",
              messageOf([&] { factory().loadBodyCode(dir, "Ghost", true); }));
}

TEST_F(FactoryTables, LoadedSignaturesAreReportedOnlyWhenVerbose) {
    factory().registerBodyCode("Liquid", &allocNamed);
    factory().registerBodyCode("Smoke", &allocNamed);
    factorytest::Installation install;
    const std::string saved = Cb::verbosity;
    Cb::verbosity = "VERBOSE";
    CaptureStderr err;
    factory().loadSignature(install.standardDir(), Cb::parseSignature(factorytest::smallSignature("Liquid")), false);
    Cb::verbosity = "verbose";
    factory().loadSignature(install.standardDir(), Cb::parseSignature(factorytest::smallSignature("Smoke")), false);
    Cb::verbosity = saved;
    EXPECT_EQ("Corix: Loaded Body Signature 'Liquid'\n", err.finish());
}

TEST_F(FactoryTables, ASignatureThatCannotBeAppliedStopsTheLoad) {
    factory().registerBodyCode("Broken", &allocNamed);
    factorytest::Installation install;
    EXPECT_EQ("Enumerated name 'Maybe' does not exist in group 'Toggle'", messageOf([&] {
                  factory().loadSignature(install.standardDir(),
                                          Cb::parseSignature("BodySignature Broken { PropSection \"S\" { Toggle \"T\" \"Maybe\" } }"),
                                          false);
              }));
    EXPECT_EQ(nullptr, factory().prototype("Broken"));
}

std::vector<std::string>* g_events = nullptr;
void cleanupA() { g_events->push_back("cleanup A"); }
void cleanupB() { g_events->push_back("cleanup B"); }

class RecordingBody : public Cb::Body {
public:
    explicit RecordingBody(const std::string& name) : Cb::Body(name) {}
    ~RecordingBody() override { g_events->push_back("prototype " + ownName()); }
};
Cb::Object* allocRecording(const char*, const char* name) { return new RecordingBody(name); }

TEST_F(FactoryTables, DestructionCallsCleanupsBeforeDeletingPrototypes) {
    std::vector<std::string> events;
    g_events = &events;
    {
        Cb::Factory local;
        local.registerBodyCode("Liquid", &allocRecording);
        local.registerCleanup(&events, &cleanupA);
        local.registerCleanup(&events, &cleanupB);  // one function per key
        local.registerCleanup(&g_events, &cleanupB);
        factorytest::Installation install;
        local.loadSignature(install.standardDir(), Cb::parseSignature(factorytest::smallSignature("Liquid")), false);
        EXPECT_TRUE(events.empty());
    }
    g_events = nullptr;
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ("prototype Liquid", events[2]);
    EXPECT_EQ((std::vector<std::string>{"cleanup A", "cleanup B"}),
              (std::vector<std::string>{std::min(events[0], events[1]), std::max(events[0], events[1])}));
}

}  // namespace
