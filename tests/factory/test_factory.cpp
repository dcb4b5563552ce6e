// The factory: its tables with their "Skipping" warnings and failures, the
// directories signatures come from and their precedence, bodies built from
// signatures (values, limits, channels, field qualifiers) and every failure of
// applying one, and the order of destruction.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CaptureOutput.h"
#include "FactoryTestSupport.h"
#include "MessageOf.h"
#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/BodyReader.h"
#include "cb/io/BodyWriter.h"
#include "cb/model/Shape.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/SigRoot.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueObject.h"
#include "cb/values/ValueSection.h"
#include "cb/values/ValueTypes.h"
#include "zt/cat.h"

using factorytest::smallSignature;
using factorytest::writeInto;
using testsupport::CaptureStderr;
using testsupport::messageOf;
using testsupport::ScopedEnv;

namespace {

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Cb::begin(false);
        for (const char* type : {"Alpha", "Beta", "Gamma", "Liquid", "Smoke", "Camera"})
            factory().registerBodyCode(type, &factorytest::allocNamed);
    }
    static Cb::Factory& factory() { return Cb::Factory::instance(); }
    void load(const std::string& text) { factory().loadSignature(standard_, Cb::parseSignature(text), false); }
    // A body "b" built from a signature holding `items`.
    static std::unique_ptr<Cb::Body> build(const std::string& items) {
        auto body = std::make_unique<Cb::Body>("b");
        Cb::parseSignature("BodySignature T {\n" + items + "\n}\n")->apply(body.get());
        return body;
    }

    factorytest::LibraryGuard guard_;
    factorytest::Installation install_;
    const std::string root_ = install_.root, standard_ = install_.standardDir, user_ = install_.userDir;
};

TEST_F(FactoryTest, TheFirstRegistrationStaysAndEveryFailureIsNamed) {
    factory().registerBodyCode("Thing", [](const char*, const char*) -> Cb::Object* { return new Cb::Body("first"); });
    factory().registerBodyCode("Null", [](const char*, const char*) -> Cb::Object* { return nullptr; });
    factory().registerBodyCode("Other", [](const char*, const char*) -> Cb::Object* { return new Cb::ValueObject(""); });
    writeInto(standard_, "a.sig", smallSignature("Alpha"));
    writeInto(standard_, "b.sig", "BodySignature Beta { PropSection \"S\" { Float \"A\" ] }");
    writeInto(standard_, "c.sig", smallSignature("Gamma"));
    CaptureStderr err;
    factory().registerBodyCode("Thing", &factorytest::allocNamed);
    factory().registerBodyReader("ztp");
    factory().registerBodyWriter("ztp");
    EXPECT_EQ("Corix ** WARNING ** : Skipping body 'Thing': body code has already been loaded.\n"
              "Corix ** WARNING ** : Skipping body reader 'ztp': already loaded.\n"
              "Corix ** WARNING ** : Skipping body writer 'ztp': already loaded.\n",
              err.finish());
    EXPECT_EQ("first", std::unique_ptr<Cb::Body>(factory().allocBody("Thing", "t"))->name());
    const std::pair<std::function<void()>, std::string> failures[] = {
        {[] { factory().allocBody("thing", "f"); }, "Error creating body of type 'thing': not registered"},
        {[] { factory().allocBody("Null", "n"); }, "Error allocating body of type 'Null'"},
        // The object of another class is freed, not leaked (the sanitizer build checks).
        {[] { factory().allocBody("Other", "o"); }, "Error creating body of type 'Other': type is not a body!"},
        {[] { factory().createBodyReader("ZTP"); }, "No body reader registered as 'ZTP'"},
        {[] { factory().createBodyWriter("abc"); }, "No body writer registered as 'abc'"},
        // Registered code alone does not make a signature.
        {[] { factory().createFromSignature("Thing"); }, "Can't create body of type 'Thing': missing .Sig"},
        {[&] { factory().loadBodyCode(standard_, "G", true); }, "Found code for user body 'G' but no matching .Sig file"},
        {[&] { load(smallSignature("M")); }, "Error opening " + standard_ + "/M.so to load user body code."},
        // A bad file stops loading the directory; what came before stays.
        {[] { factory().loadSignatures(); }, "Error parsing " + standard_ + "/b.sig: Syntax error on line 1: ] }"},
        // Applying a signature.
        {[] { build(R"(PropSection "F" { } PropSection "F" { })"); }, "Cannot add section 'F' to 'b': section exists"},
        {[] { build(R"(PropSection "S" { Toggle "A" "on" })"); }, "Enumerated name 'on' does not exist in group 'Toggle'"},
        {[] { build(R"(EnumGroup M {"F"} PropSection "S" {M "V" "S"})"); }, "Enumerated name 'S' does not exist in group 'M'"},
        // Items apply in file order: the group must come first.
        {[] { build(R"(PropSection "S" {M "V" "F"} EnumGroup M {"F"})"); }, "_enumerated group 'M' in 'b' does not exist"},
        {[] { build(R"(EnumGroup M {"A"} EnumGroup M {"B"})"); }, "Cannot add enumerated group 'M' to 'b': group exists"},
        {[] { build(R"(EnumGroup M { "A" "B" "A" })"); }, "Cannot add enumerated name 'A' to group 'M': name exists"},
        {[] { build("Channels {Float Point.w 0 Point.*}"); }, "Cannot create shape 'Point' in Body b: shape already exists"},
        {[] { build("Channels { Float Cloud.w 0 }"); }, "Unknown shape: 'Cloud'"},
        {[] { build("Channels { Vec2i Particle.p 1 2 }"); }, "2i channels not supported in a Particle-Shape"},
        {[] { build("Channels { Vec3f Particle.velocity 0 0 0 Transport = High }"); },
         "Channel 'velocity' in Particle-shape requested: wrong channel type"},
        {[] { build("Channels { Float Point.w 0 Keep }"); }, "Channel 'w' in Point-shape requested: wrong channel type"},
        {[] { Cb::parseSignature("BodySignature T { }")->apply(nullptr); }, "Cannot apply signature 'T' to a NULL body"},
    };
    for (const auto& [action, message] : failures) EXPECT_EQ(message, messageOf(action));
    // A signature that fails to complete stays stored, without a prototype.
    EXPECT_EQ((std::vector<std::string>{"Alpha", "M"}), factory().signatureNames());
    EXPECT_EQ(nullptr, factory().prototype("M"));
    const std::string saved = Cb::verbosity;
    Cb::verbosity = "VERBOSE";
    CaptureStderr err2;
    load(smallSignature("Liquid"));
    Cb::verbosity = "verbose";
    load(smallSignature("Smoke"));
    Cb::verbosity = saved;
    EXPECT_EQ("Corix: Loaded Body Signature 'Liquid'\n", err2.finish());  // only when verbose
}

// Directories: standard, then the pieces of CORIX_USER_SIG_PATH, then user.
TEST_F(FactoryTest, TheFirstDirectoryWinsOnlySigFilesAreReadAndUserDirectoriesSkipRegisteredCode) {
    const std::string first = root_ + "/first", second = root_ + "/second", other = root_ + "/other",
                      missing = root_ + "/missing", slashed = root_ + "/";
    // Empty pieces name nothing; a trailing separator goes, also the one of CORIX_PATH.
    const std::string list = ";" + first + ";;" + second + ";" + other + ";" + missing + ";";
    ScopedEnv userPath("CORIX_USER_SIG_PATH", list.c_str()), corix("CORIX_PATH", slashed.c_str());
    writeInto(standard_, "b.Sig", smallSignature("Alpha"));
    writeInto(standard_, "z.sig", smallSignature("Smoke"));
    // Each of these would fail the load if it were compiled.
    for (const char* name : {"c.SIG", ".sig", "sig", "d.sigs", "e.sig.txt"}) writeInto(standard_, name, "not a sig");
    writeInto(first, "liquid.sig", smallSignature("Liquid"));
    writeInto(second, "a.sig", smallSignature("Liquid"));
    writeInto(second, "b.sig", smallSignature("Smoke"));
    writeInto(other, "notes.txt", "no signature");
    std::filesystem::create_directories(other + "/inner.sig");  // a directory, not a file
    writeInto(user_, "a.sig", smallSignature("Camera"));
    CaptureStderr err;
    factory().loadSignatures();
    const std::string skip = "Corix ** WARNING ** : Skipping ", declared = "': signature has already been declared.\n";
    EXPECT_EQ("Corix: Scanning " + standard_ + " ...\nCorix: Compiled SIG: Alpha\nCorix: Compiled SIG: Smoke\n" +
                  "Corix: Scanning " + first + " ...\nCorix: Compiled SIG: Liquid\n" + skip +
                  "body 'Liquid': already loaded\nCorix: Scanning " + second + " ...\nCorix: Compiled SIG: Liquid\n" +
                  skip + "signature 'Liquid" + declared + "Corix: Compiled SIG: Smoke\n" + skip + "signature 'Smoke" +
                  declared + "Corix: Scanning " + other + " ...\n***** CORIX ERROR: Invalid path: " + missing +
                  "/*\nCorix: Scanning " + user_ + " ...\nCorix: Compiled SIG: Camera\n" + skip +
                  "body 'Camera': already loaded\n",
              err.finish());
}

// "name:type=x,y,z" for each channel of a shape, with its default (a scalar's in every component).
std::string channelsOf(const Cb::Body& body, const std::string& shape) {
    std::string out;
    const Cb::Shape& s = *body.shape(shape);
    for (int i = 0; i < s.channelCount(); ++i) {
        const zt::vec3f d = s.channel(i)->defaultValue3f();
        out += zt::cat(i ? " " : "", s.channel(i)->name(), ":", s.channel(i)->typeName(), "=", d.x(), ",", d.y(), ",",
                       d.z());
    }
    return out;
}

// "[Section] name:type:flags=text,text ..." over the sections in order.
std::string valuesOf(const Cb::Body& body) {
    std::string out;
    for (int s = 0; s < body.sectionCount(); ++s) {
        out += zt::cat(s ? " [" : "[", body.sectionAt(s)->name(), "]");
        for (int i = 0; i < body.sectionAt(s)->valueCount(); ++i) {
            const Cb::ValueBase& v = *body.sectionAt(s)->valueAt(i);
            out += zt::cat(" ", v.ownName(), ":", v.typeName(), ":", v.readOnly() ? "R" : "", v.hidden() ? "H" : "");
            for (int c = 0; c < v.componentCount(); ++c) out += zt::cat(c ? "," : "=", v.expression(c));
        }
    }
    return out;
}

// "[hardMin hardMax] (softMin softMax)" of one component, the default limits as *.
template <class V>
std::string limitsOf(const Cb::Body& body, const std::string& name, int c = 0) {
    const auto& v = dynamic_cast<const V&>(*body.value(name));
    auto text = [](double x) { return x == Cb::kDefaultMinLimit || x == Cb::kDefaultMaxLimit ? "*" : zt::cat(x); };
    return zt::cat("[", text(v.hardMin(c)), " ", text(v.hardMax(c)), "] (", text(v.softMin(c)), " ",
                   text(v.softMax(c)), ")");
}

TEST_F(FactoryTest, AppliedSignaturesBuildValuesChannelsAndFieldQualifiers) {
    auto body = build(R"(EnumGroup M { "Fast" "Accurate" } PropSection "Fluid" { Float "Fluid Density" "1000" READONLY
        Float "P" "1" READONLY HIDDEN READONLY Toggle "T" "On" HIDDEN M "E" "Accurate" READONLY }
        PropSection "Supersampling" { Int "Particle Supersampling" "2" } PropSection "Files" { String "S" "s"
        FileName "F" "c.ztp" PathName "D" "/tmp" READONLY BodyName "B" "e" BodyNameList "L" "" } PropSection "Stepping" {
        Float "Low" "0.1" MIN= 0.5 Int "N" "12" MIN= 0 MAX= 10 (2 5) Vec3f "G" "0" MIN= -1 "-9.8" (-20 0) "0" MAX= 1 })");
    EXPECT_EQ("[Stepping] Low:value1f:=0.1 N:value1i:=12 G:value3f:=0,-9.8,0 [Fluid] Density:value1f:R=1000 P:value1f:RH=1 "
              "T:toggle:H=On E:enum:R=Accurate [Particle Supersampling] Interior Supersampling:value1i:=2 [Files] "
              "S:value1s:=s F:value1s:=c.ztp D:value1s:R=/tmp B:value1s:=e L:value1s:=",
              valuesOf(*body));
    EXPECT_EQ(body->enumGroup("M"), dynamic_cast<Cb::Value1e&>(*body->value("E")).group());
    EXPECT_EQ(Cb::toggleGroup(), dynamic_cast<Cb::ValueToggle&>(*body->value("T")).group());
    // Limits come after the default, so a default outside them is accepted; they hold from then on.
    EXPECT_EQ("[0.5 *] (* *)", limitsOf<Cb::Value1f>(*body, "Low"));
    EXPECT_EQ("[0 10] (2 5)", limitsOf<Cb::Value1i>(*body, "N"));
    EXPECT_EQ("[-1 *] (* *)", limitsOf<Cb::Value3f>(*body, "G", 0));
    EXPECT_EQ("[* *] (-20 0)", limitsOf<Cb::Value3f>(*body, "G", 1));
    EXPECT_EQ("[* 1] (* *)", limitsOf<Cb::Value3f>(*body, "G", 2));
    EXPECT_EQ("Error setting value on b.Low:Attempting to set out-of-bounds value: 0.2",
              messageOf([&] { body->value("Low")->setExpression("0.2", 0); }));

    // Channels create their shape; defaults convert like atof; a second declaration changes nothing.
    body = build(R"(Channels { Float Particle.a 1e2 Vec3f Particle.d 1.5e-1 -2 7.f Int Particle.e 0xFF
        Int Particle.f 0xFFFFFFFF Vec3i Particle.h 1 0x2 -3 Float Particle.a 9 Int Particle.d 4
        Point.* Float Point/w -.5 Vec2i Edge.p 1 2 Vec4i Tet.c 1 2 3 0x4 })");
    EXPECT_EQ("position:particle::vec3f=0,0,0 a:particle::float=100,100,100 d:particle::vec3f=0.15,-2,7 "
              "e:particle::int=255,255,255 f:particle::int=-1,-1,-1 h:particle::vec3i=1,2,-3",
              channelsOf(*body, "Particle"));
    EXPECT_EQ("position:buffer::vec3f=0,0,0 w:buffer::float=-0.5,-0.5,-0.5", channelsOf(*body, "Point"));
    EXPECT_EQ("buffer::vec2i buffer::vec4i", body->channel("Edge.p")->typeName() + " " + body->channel("Tet.c")->typeName());

    // Field qualifiers: "name:mode/flags A to E"; Keep after Transport resets the mode only.
    body = build(R"(Channels { Float Field.plain 0 Float Field.kept 0 Keep Float Field.both 0 Transport = High
        Float Field.both 5 Keep Float Field.low 0 Transport = Low Vec3f Field.high 0 0 0 Transport = High
        Vec3f Particle.velocity 0 0 0 Vec3f Field.velocity 0 0 0 (velocity) Float Field.density 0 (density X N) })");
    std::string modes;
    const Cb::Shape& field = *body->shape("Field");
    for (int i = 0; i < field.channelCount(); ++i) {
        auto& channel = dynamic_cast<const Cb::FieldChannelBase&>(*field.channel(i));
        modes += zt::cat(" ", channel.name(), ":", channel.updateMode(), "/");
        for (int f = Cb::kFieldFlagA; f < Cb::kFieldFlagCount; ++f) modes += zt::cat(channel.flag(Cb::FieldFlag(f)));
    }
    EXPECT_EQ(" plain:0/00000 kept:0/00000 both:0/10000 low:2/00000 high:2/10000 velocity:3/01100 density:3/01100",
              modes);
}

std::string g_events;
struct RecordingBody : Cb::Body {
    using Cb::Body::Body;
    ~RecordingBody() override { g_events += "prototype deleted;"; }
};

TEST_F(FactoryTest, DestructionCallsCleanupsBeforeDeletingPrototypes) {
    {
        Cb::Factory local;
        local.registerBodyCode("Liquid", [](const char*, const char* n) -> Cb::Object* { return new RecordingBody(n); });
        local.loadSignature(standard_, Cb::parseSignature(smallSignature("Liquid")), false);
        local.registerCleanup(&g_events, [] { g_events += "cleanup;"; });
        local.registerCleanup(&g_events, [] { g_events += "second of one key;"; });
        EXPECT_EQ("", g_events);
    }
    EXPECT_EQ("cleanup;prototype deleted;", g_events);
}

}  // namespace
