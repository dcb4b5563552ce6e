// Typed values: the failure texts, limits and clamping, components, the type
// registry, the thread count, enumerated values, legacy names, copies,
// contexts, metadata, and the exact bytes of value records.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <tuple>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/ThreadCount.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleShape.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueIo.h"
#include "cb/values/ValueObject.h"
#include "cb/values/ValueTypes.h"
#include "zt/cat.h"

using namespace Cb;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

class Values : public ::testing::Test {
protected:
    // The global context and the value types outlive every value of a test.
    Values() { QelContext::createGlobal(); registerValueTypes(); }
    ~Values() override { body_.reset(); releaseValueTypes(); QelContext::destroyGlobal(); }
    // A reader at the start of `bytes`.
    ZtpInput& input(const ByteBuilder& bytes) {
        testsupport::writeFile(dir_.file("in.ztp"), bytes.data());
        reader_ = std::make_unique<ZtpReader>();
        reader_->openStream(dir_.file("in.ztp"), 16);
        return reader_->stream();
    }
    // A value added to section "Main", so that it has a full name.
    template <class V>
    V* add(V* value) { return static_cast<V*>(main_->addValue(std::unique_ptr<V>(value))); }

    testsupport::TempDir dir_;
    std::unique_ptr<ZtpReader> reader_;
    std::unique_ptr<ValueObject> body_ = std::make_unique<ValueObject>("Water");
    ValueSection* main_ = body_->addSection("Main");
};

std::string evalText(ValueBase& v, double time = 0.0) {
    std::string out;
    v.evalString(out, FrameTime{.time = time}, 0, 0);
    return out;
}

TEST_F(Values, EveryFailureHasItsMessageAndChangesNothing) {
    auto* gravity = add(new Value3f("Gravity", {"1", "2", "3"}));
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { gravity->setExpression("1", 3); }, "Error setting value on Water.Gravity:component 3 out of range"},
        {[&] { gravity->setExpression("1 +", 1); }, "Error setting value on Water.Gravity:Bad QEL expression: 1 +"},
        {[&] { gravity->setMin("1", 3); }, "component 3 out of range"},
        // A value outside an object has no full name to put in the message.
        {[] { Value1f("Loose").setExpression("1 +", 0); }, "Attempting to construct NULL-object longname 'Loose'"},
        // "Live" is good in a "Construction" group only.
        {[] { EnumGroup("Other", {"Empty"}).checkName("Live"); }, "Enumerated name 'Live' does not exist in group 'Other'"},
        {[&] { add(new Value1f("Solid Density")); add(new Value1f("Density")); },
         "Attempting to add duplicate 'Density' to section 'Main'"},
        {[&] { body_->value("Viscosity"); }, "'Viscosity' not found"},
        {[&] { main_->value("Viscosity"); }, "Section 'Main' does not have value 'Viscosity'"},
        {[&] { body_->setName("Fluid.1"); }, "Cannot set name 'Fluid.1': contains illegal character '.'"},
        {[&] { readValue(input(ByteBuilder().str("enum").str("M").str("G").i32(1).str("A").str("B"))); },
         "Enumerated name 'B' does not exist in group 'G'"},
        {[&] { readValue(input(ByteBuilder().str("vec2f").str("M").str("1"))); }, "Unknown value type: 'vec2f'"},
        {[&] { readValue(input(ByteBuilder().str("value3i").str("M").str("1"))); }, "Error reading ztp value"},
    };
    for (const auto& [action, message] : cases) EXPECT_EQ(message, messageOf(action));
    EXPECT_EQ("2", gravity->expression(1));
    EXPECT_EQ("Water", body_->name());
    EXPECT_NO_THROW(EnumGroup("Construction", {"Empty"}).checkName("Live"));
}

TEST_F(Values, ATextThatCannotBindToTheCurrentContextIsRefusedWithTheValueNameAndNothingLeaks) {
    Body body("Water");
    body.addShape(new ParticleShape(false));
    auto* scale = static_cast<Value1f*>(
        body.addSection("Main")->addValue(std::make_unique<Value1f>("Scale", std::array<std::string, 1>{"2"})));
    QelContext ctx(&body, "Particle", FrameTime());
    for (int attempt = 0; attempt < 2; ++attempt)  // each refused tree is freed (LeakSanitizer)
        EXPECT_EQ("Error setting value on Water.Scale:QEL context error: Channel 'nope' not found in Particle-Shape",
                  messageOf([&] { scale->setExpression(".nope", 0); }));
    EXPECT_EQ("2", scale->expression(0));
    EXPECT_EQ(&ctx, scale->node(0)->context());
    EXPECT_EQ(2.0f, scale->evaluate(FrameTime()));
}

TEST_F(Values, LimitsComponentsEnumeratedValuesAndLegacyNames) {
    auto* v = add(new Value1f("Scale", {"0.1"}));
    v->setMin("0.5", 0);
    v->setMax("1", 0);
    EXPECT_EQ("0.5", evalText(*v));  // a default outside the limits stays, clamped when evaluated
    std::unique_ptr<Value1f> copy(static_cast<Value1f*>(v->clone()));  // and survives a clone
    EXPECT_EQ("0.1 0.5", copy->expression(0) + " " + zt::cat(copy->hardMin(0)));
    v->setExpression("time", 0);
    EXPECT_EQ("1 0.75", evalText(*v, 5.0) + " " + evalText(*v, 0.75));

    auto* res = add(new Value3i("Res", {"1", "2.9", "-2.9"}));
    EXPECT_EQ(2, res->evaluate(FrameTime(), 1));  // toward zero
    EXPECT_EQ(-2, res->evaluate(FrameTime(), 2));
    res->setExpression("sqrt(-1)", 0);  // NaN converts to 0
    EXPECT_EQ(0, res->evaluate(FrameTime(), 0));
    EXPECT_EQ(res->node(2), res->node(7));  // past the last gives the last tree

    EnumGroup constructionEnum("ConstructionEnum", {"Empty", "Live"});
    Value1e state("State", &constructionEnum, "Live");
    EXPECT_EQ("Empty", evalText(state));  // "Live" reads "Empty" in a construction group

    add(new Value1f("Fluid Density"));
    EXPECT_EQ("Water.Density", body_->value("Solid Density")->name());
    body_->addSection("Supersampling");
    EXPECT_TRUE(body_->hasSection("Particle Supersampling"));
    body_->addSection("Stepping")->addValue(std::make_unique<Value1i>("Density"));
    EXPECT_EQ("value1i", body_->value("Density")->typeName());  // "Stepping" went first and answers first
}

TEST_F(Values, TheRegistryKnowsEveryAliasAndTheThreadCountIsAppliedClamped) {
    // name or alias -> type name, type code, default text
    const std::tuple<const char*, const char*, int, const char*> types[] = {
        {"vec3f", "value3f", 4, ""}, {"int64_t", "value1i64", 11, ""}, {"threadcount", "value1i", 0, "2"},
        {"fps", "value1i", 0, "24"}, {"enum", "enum", 8, ""},         {"toggle", "toggle", 9, ""}};
    for (const auto& [alias, typeName, code, text] : types) {
        std::unique_ptr<ValueBase> v(createValue(alias, "x"));
        EXPECT_EQ(zt::cat(typeName, " ", code, " '", text, "' 1"),
                  zt::cat(v->typeName(), " ", v->typeCode(), " '", v->expression(0), "' ", isValueType(v.get(), alias)));
    }
    EXPECT_EQ(1, libraryThreadCount());  // a thread count is not applied at creation
    auto* t = add(new ThreadCountValue("Thread Count"));
    testsupport::CaptureStderr err;
    t->setExpression("3", 0);
    t->setExpression("1000000", 0);
    EXPECT_EQ(256, libraryThreadCount());
    t->setMax("4", 0);
    t->setExpression("frame + 9", 0);  // not constant: clamped to the hard maximum
    EXPECT_EQ(4, libraryThreadCount());
    EXPECT_EQ("Corix: Setting Thread Count: 3\nCorix ** WARNING ** : Thread count 1000000 is outside 1..256: using 256\n"
              "Corix: Setting Thread Count: 256\nCorix: Setting Thread Count: 4\n",
              err.finish());
    applyLibraryThreadCount(1);
}

TEST_F(Values, CopiesAreDeepWithTheirOwnGroupsContextsRebindAndMetadataPrints) {
    auto original = std::make_unique<ValueObject>("Water");
    EnumGroup* motion = original->addEnumGroup(
        std::make_unique<EnumGroup>("MotionTypeEnum", std::vector<std::string>{"Dynamic", "Unsolved"}));
    ValueSection* section = original->addSection("S");
    section->addValue(std::make_unique<Value1e>("Motion Type", motion, "Dynamic"));
    section->addValue(std::make_unique<Value1f>("X", std::array<std::string, 1>{"time"}));
    ValueObject copy(*original);
    auto* x = static_cast<Value1f*>(copy.value("X"));
    x->setExpression("2", 0);
    EXPECT_EQ("time", original->value("X")->expression(0));
    auto* motionCopy = static_cast<Value1e*>(copy.value("Motion Type"));
    EXPECT_EQ(copy.enumGroup("MotionTypeEnum"), motionCopy->group());
    original.reset();  // the copy must not point into it
    motionCopy->select("Unsolved");
    EXPECT_EQ(1.0, motionCopy->evalNumber(FrameTime(), 0, 0));

    QelContext a(nullptr, "", FrameTime()), b(nullptr, "", FrameTime());
    copy.pushContext(&a, true);
    x->setExpression("frame", 0);  // a new tree follows the current context
    EXPECT_EQ(&a, x->node(0)->context());
    copy.pushContext(&b, true);
    EXPECT_EQ(&b, x->node(0)->context());
    copy.popContext(true);
    EXPECT_EQ(&a, x->node(0)->context());
    for (int i = 0; i < 2; ++i) copy.popContext(true);  // the second pop finds it empty
    EXPECT_EQ(QelContext::global(), x->node(0)->context());

    copy.metadata()["a"] = "x y";
    std::ostringstream f0, f1, f2;
    copy.printMetadata(f0, 0);
    copy.printMetadata(f1, 1);
    copy.printMetadata(f2, 2);
    EXPECT_EQ("SetMeta \"Water\" \"a\" \"x y\"\n", f0.str());
    EXPECT_EQ("PyKo.SetMeta ( \"Water\", \"a\", \"x y\" )\n", f1.str());
    EXPECT_EQ("", f2.str());  // other formats write nothing
}

TEST_F(Values, RecordsHaveExactBytesAndTheConstructionRuleHoldsForConstructionOnly) {
    EnumGroup motion("MotionTypeEnum", {"Dynamic", "Unsolved"});
    ZtpWriter writer;
    writer.openStream(dir_.file("out.ztp"));
    writeValue(writer.stream(), Value3f("Gravity", {"0", "-9.8", ""}));
    writeValue(writer.stream(), Value1e("Motion Type", &motion, "Unsolved"));
    writer.close();
    EXPECT_EQ(ByteBuilder()
                  .str("value3f").str("Gravity").str("0").str("-9.8").str("")
                  .str("enum").str("Motion Type").str("MotionTypeEnum").i32(2).str("Dynamic").str("Unsolved").str("Unsolved")
                  .data(),
              testsupport::readBytes(dir_.file("out.ztp")));

    // A negative name count is no names.
    ZtpInput& in = input(ByteBuilder().str("Construction").i32(2).str("Live").str("Other").str("Stage").i32(1)
                             .str("Live").str("Empty").i32(-3));
    EXPECT_EQ((std::vector<std::string>{"Empty", "Other"}), readEnumGroup(in)->names());
    EXPECT_EQ((std::vector<std::string>{"Live"}), readEnumGroup(in)->names());
    EXPECT_EQ(0, readEnumGroup(in)->count());
}

}  // namespace
