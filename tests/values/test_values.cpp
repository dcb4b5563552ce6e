// Typed values: texts, limits, the wrapped messages, evaluation and the registry.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

#include "CaptureOutput.h"
#include "cb/ThreadCount.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueObject.h"
#include "cb/values/ValueTypes.h"

using namespace Cb;

namespace {

class Values : public ::testing::Test {
protected:
    void SetUp() override {
        QelContext::createGlobal();
        registerValueTypes();
    }
    void TearDown() override {
        releaseValueTypes();
        QelContext::destroyGlobal();
    }

    // A value in a section of `object`, so that it has a full name.
    template <class V>
    V* add(ValueObject& object, std::unique_ptr<V> value, const std::string& section = "Main") {
        ValueSection* s = object.section(section) ? object.section(section) : object.addSection(section);
        return static_cast<V*>(s->addValue(std::move(value)));
    }

    std::string message(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "<no exception>";
    }
};

std::string evalText(ValueBase& v, float time = 0.0f, int component = 0) {
    FrameTime t;
    t.time = time;
    std::string out;
    v.evalString(out, t, component, 0);
    return out;
}

}  // namespace

TEST_F(Values, ConstantOutsideHardLimitsIsRefusedWithTheFullName) {
    ValueObject body("Water");
    auto* v = add(body, std::make_unique<Value1f>("Density"));
    v->setMin("0", 0);
    v->setMax("1", 0);
    EXPECT_EQ("Error setting value on Water.Density:Attempting to set out-of-bounds value: 5",
              message([&] { v->setExpression("5", 0); }));
    EXPECT_EQ("", v->expression(0));  // unchanged after the failure
    v->setExpression("time", 0);      // not constant: clamped when evaluated
    EXPECT_EQ("time", v->expression(0));
    EXPECT_EQ("1", evalText(*v, 5.0f));
    EXPECT_EQ("0.25", evalText(*v, 0.25f));
    EXPECT_FALSE(v->isConstant(0));
    v->setExpression("0.5", 0);
    EXPECT_TRUE(v->isConstant(0));
    EXPECT_EQ(0.5, v->evalNumber(FrameTime(), 0, 0));
}

TEST_F(Values, SyntaxErrorsAndComponentRangeAreWrapped) {
    ValueObject body("B");
    auto* v = add(body, std::make_unique<Value3f>("Gravity"));
    EXPECT_EQ("Error setting value on B.Gravity:component 3 out of range", message([&] { v->setExpression("1", 3); }));
    EXPECT_EQ("Error setting value on B.Gravity:Bad QEL expression: 1 +", message([&] { v->setExpression("1 +", 1); }));
    EXPECT_EQ("component 3 out of range", message([&] { v->setMin("1", 3); }));
    Value1f loose("Loose");
    EXPECT_EQ("Attempting to construct NULL-object longname 'Loose'", message([&] { loose.setExpression("1 +", 0); }));
    EXPECT_EQ("Attempting to construct NULL-object longname 'Loose'", message([&] { (void)loose.name(); }));
}

TEST_F(Values, LimitsAreAppliedAfterDefaults) {
    ValueObject body("B");
    auto* v = add(body, std::make_unique<Value1f>("Scale", std::array<std::string, 1>{"0.1"}));
    v->setMin("0.5", 0);
    EXPECT_EQ("0.1", v->expression(0));
    EXPECT_EQ(0.5, v->hardMin(0));
    EXPECT_EQ("0.5", evalText(*v));  // clamped when evaluated
    std::unique_ptr<ValueBase> copy(v->clone());  // a clone keeps the text outside its limits
    EXPECT_EQ("0.1", copy->expression(0));
    EXPECT_EQ(0.5, static_cast<Value1f*>(copy.get())->hardMin(0));
    v->setSoftRange("0.6", "0.9", 0);
    EXPECT_EQ(0.6, v->softMin(0));
    EXPECT_EQ(kDefaultMaxLimit, v->hardMax(0));
}

TEST_F(Values, ComponentsAndTypedEvaluation) {
    ValueObject body("B");
    auto* v = add(body, std::make_unique<Value3i>("Res", std::array<std::string, 3>{"1", "2.9", "-2.9"}));
    EXPECT_EQ(3, v->componentCount());
    EXPECT_EQ(2, v->evaluate(FrameTime(), 1));
    EXPECT_EQ(-2, v->evaluate(FrameTime(), 2));
    EXPECT_EQ(v->node(2), v->node(7));  // past the last gives the last tree
    std::string out;
    v->evalStringComponent0(out, FrameTime(), 2, 0);
    EXPECT_EQ("1", out);
    auto* s = add(body, std::make_unique<Value1s>("Label", std::array<std::string, 1>{"frame `1+2`"}));
    EXPECT_EQ("frame 3", s->evaluate(FrameTime()));
    EXPECT_EQ("value1s", s->typeName());
    EXPECT_EQ(10, s->typeCode());
}

TEST_F(Values, RegistryAliasesAndTypeTests) {
    std::unique_ptr<ValueBase> g(createValue("vec3f", "Gravity"));
    EXPECT_EQ("Gravity", g->ownName());
    EXPECT_EQ("value3f", g->typeName());
    EXPECT_EQ(4, g->typeCode());
    EXPECT_NE(nullptr, dynamic_cast<Value3f*>(g.get()));
    EXPECT_EQ("Unknown value type: 'vec2f'", message([&] { createValue("vec2f", "X"); }));
    EXPECT_EQ("Unknown value type: 'nope'", message([&] { isValueType(g.get(), "nope"); }));
    std::unique_ptr<ValueBase> t(createValue("threadcount", "Threads"));
    EXPECT_EQ("2", t->expression(0));
    EXPECT_EQ("value1i", t->typeName());
    EXPECT_EQ(1, libraryThreadCount());  // not applied at creation
    EXPECT_TRUE(isValueType(t.get(), "value1i"));
    EXPECT_TRUE(isValueType(t.get(), "int"));
    EXPECT_TRUE(isValueType(t.get(), "threadcount"));
    EXPECT_FALSE(isValueType(g.get(), "value1f"));
    std::unique_ptr<ValueBase> f(createValue("fps", "Rate"));
    EXPECT_EQ("24", f->expression(0));
    EXPECT_FALSE(isValueType(f.get(), "threadcount"));
    std::unique_ptr<ValueBase> e(createValue("enum", "Mode"));
    EXPECT_EQ(8, e->typeCode());
    EXPECT_EQ("", e->expression(0));
    std::unique_ptr<ValueBase> tg(createValue("toggle", "Flag"));
    EXPECT_EQ(9, tg->typeCode());
    EXPECT_EQ(toggleGroup(), static_cast<ValueToggle*>(tg.get())->group());
    EXPECT_TRUE(isValueType(tg.get(), "enum"));
    for (const char* name : {"int64_t", "float", "vec3i", "string"}) {
        std::unique_ptr<ValueBase> v(createValue(name, "x"));
        EXPECT_TRUE(isValueType(v.get(), name)) << name;
    }
}

TEST_F(Values, ThreadCountIsAppliedClampedAndLogged) {
    ValueObject body("B");
    auto* t = add(body, std::unique_ptr<ThreadCountValue>(new ThreadCountValue("Thread Count")));
    {
        testsupport::CaptureStderr err;
        t->setExpression("3", 0);
        EXPECT_EQ("Corix: Setting Thread Count: 3\n", err.finish());
    }
    EXPECT_EQ(3, libraryThreadCount());
    {
        testsupport::CaptureStderr err;
        t->setExpression("1000000", 0);
        std::string text = err.finish();
        EXPECT_NE(std::string::npos, text.find("Corix ** WARNING ** : Thread count 1000000 is outside 1..256"));
        EXPECT_NE(std::string::npos, text.find("Corix: Setting Thread Count: 256\n"));
    }
    EXPECT_EQ(256, libraryThreadCount());
    t->setMax("4", 0);
    {
        testsupport::CaptureStderr err;
        t->setExpression("frame + 9", 0);  // not constant: clamped to the hard maximum
        EXPECT_EQ("Corix: Setting Thread Count: 4\n", err.finish());
    }
    EXPECT_EQ(4, libraryThreadCount());
    applyLibraryThreadCount(1);
}

TEST_F(Values, EnumeratedValuesAndGroups) {
    EnumGroup construction("Construction", {"Empty", "Full"});
    EXPECT_NO_THROW(construction.checkName("Live"));
    EXPECT_EQ("Enumerated name 'Half' does not exist in group 'Construction'",
              message([&] { construction.checkName("Half"); }));
    EnumGroup other("Other", {"Empty"});
    EXPECT_EQ("Enumerated name 'Live' does not exist in group 'Other'", message([&] { other.checkName("Live"); }));
    EXPECT_EQ("Cannot add enumerated name 'Full' to group 'Construction': name exists",
              message([&] { construction.addName("Full"); }));

    EnumGroup constructionEnum("ConstructionEnum", {"Empty", "Live"});
    Value1e state("State", &constructionEnum, "Live");
    EXPECT_EQ("Empty", evalText(state));
    EXPECT_EQ("Live", state.expression(0));
    EXPECT_EQ("component 1 out of range", message([&] { state.setExpression("x", 1); }));
    state.setExpression("Anything", 0);  // stored without a check
    EXPECT_EQ("Anything", state.selected());
    EXPECT_EQ("Enumerated name 'Nope' does not exist in group 'Other'",
              message([&] { Value1e bad("Bad", &other, "Nope"); }));
    EXPECT_EQ(nullptr, state.node(0));
    EXPECT_FALSE(state.isConstant(0));
}

TEST_F(Values, SectionsRenamesAndLookups) {
    ValueObject body("Water");
    ValueSection* fluid = body.addSection("Fluid");
    fluid->addValue(std::make_unique<Value1f>("Fluid Density"));
    fluid->addValue(std::make_unique<Value1f>("Cell Scale"));
    fluid->addValue(std::make_unique<Value1f>("Particle Supersampling"));
    EXPECT_TRUE(fluid->hasValue("Density"));
    EXPECT_EQ("Water.Density", body.value("Solid Density")->name());
    EXPECT_EQ("Voxel Scale", body.value("Cell Scale")->ownName());
    EXPECT_EQ("Interior Supersampling", body.value("Particle Supersampling")->ownName());
    EXPECT_EQ("Attempting to add duplicate 'Density' to section 'Fluid'",
              message([&] { fluid->addValue(std::make_unique<Value1f>("Solid Density")); }));
    EXPECT_EQ("'Viscosity' not found", message([&] { body.value("Viscosity"); }));
    EXPECT_EQ("Section 'Fluid' does not have value 'Viscosity'", message([&] { fluid->value("Viscosity"); }));

    body.addSection("Supersampling");
    EXPECT_TRUE(body.hasSection("Supersampling"));
    EXPECT_TRUE(body.hasSection("Particle Supersampling"));
    body.addSection("Stepping");
    EXPECT_EQ("Stepping", body.sectionAt(0)->name());
    EXPECT_EQ("Cannot add section 'Fluid' to 'Water': section exists", message([&] { body.addSection("Fluid"); }));
    ValueObject empty("E");
    empty.addSection("Stepping");
    empty.addSection("Other");
    EXPECT_EQ("Stepping", empty.sectionAt(0)->name());

    // The first section that has the name answers.
    body.section("Stepping")->addValue(std::make_unique<Value1i>("Density"));
    EXPECT_EQ("value1i", body.value("Density")->typeName());
}

TEST_F(Values, ObjectNamesAndGroups) {
    ValueObject body("Water");
    EXPECT_EQ("Cannot set name 'Fluid.1': contains illegal character '.'", message([&] { body.setName("Fluid.1"); }));
    EXPECT_EQ("Water", body.name());
    EXPECT_THROW(ValueObject("a.b"), ztx::base);
    body.addEnumGroup(std::make_unique<EnumGroup>("MotionTypeEnum", std::vector<std::string>{"Dynamic", "Unsolved"}));
    EXPECT_EQ("Cannot add enumerated group 'MotionTypeEnum' to 'Water': group exists",
              message([&] { body.addEnumGroup(std::make_unique<EnumGroup>("MotionTypeEnum")); }));
    EXPECT_EQ("_enumerated group 'Nope' in 'Water' does not exist", message([&] { body.enumGroup("Nope"); }));
}

TEST_F(Values, CopiesAreDeepAndEnumeratedValuesFollowTheCopysGroups) {
    auto original = std::make_unique<ValueObject>("Water");
    EnumGroup* motion = original->addEnumGroup(
        std::make_unique<EnumGroup>("MotionTypeEnum", std::vector<std::string>{"Dynamic", "Unsolved"}));
    add(*original, std::make_unique<Value1e>("Motion Type", motion, "Dynamic"));
    auto* density = add(*original, std::make_unique<Value1f>("Density", std::array<std::string, 1>{"1000"}));
    density->setMax("5000", 0);
    original->metadata()["k"] = "v";

    ValueObject copy(*original);
    static_cast<Value1f*>(copy.value("Density"))->setExpression("2000", 0);
    EXPECT_EQ("1000", original->value("Density")->expression(0));
    EXPECT_EQ(5000, static_cast<Value1f*>(copy.value("Density"))->hardMax(0));
    EXPECT_EQ("Water.Density", copy.value("Density")->name());
    auto* motionCopy = static_cast<Value1e*>(copy.value("Motion Type"));
    EXPECT_EQ(copy.enumGroup("MotionTypeEnum"), motionCopy->group());
    EXPECT_EQ("v", copy.metadata().at("k"));
    original.reset();  // the copy must not point into it
    motionCopy->select("Unsolved");
    EXPECT_EQ("Unsolved", evalText(*motionCopy));
    EXPECT_EQ(1.0, motionCopy->evalNumber(FrameTime(), 0, 0));
}

TEST_F(Values, ContextStackRebindsEveryValue) {
    ValueObject body("B");
    auto* v = add(body, std::make_unique<Value1f>("X", std::array<std::string, 1>{"time"}));
    EXPECT_EQ(QelContext::global(), v->node(0)->context());
    QelContext a(nullptr, "", FrameTime());
    QelContext b(nullptr, "", FrameTime());
    body.pushContext(&a, true);
    body.pushContext(&b, true);
    EXPECT_EQ(&b, v->node(0)->context());
    v->setExpression("frame", 0);  // a new tree follows the current context
    EXPECT_EQ(&b, v->node(0)->context());
    body.popContext(true);
    EXPECT_EQ(&a, v->node(0)->context());
    body.popContext(true);
    EXPECT_EQ(QelContext::global(), v->node(0)->context());
    body.popContext(true);  // empty: stays global
    EXPECT_EQ(0, body.contextDepth());
}

TEST_F(Values, MetadataFormats) {
    ValueObject body("Water");
    body.metadata()["b"] = "2";
    body.metadata()["a"] = "x y";
    std::ostringstream f0, f1, f2;
    body.printMetadata(f0, 0);
    body.printMetadata(f1, 1);
    body.printMetadata(f2, 2);
    EXPECT_EQ("SetMeta \"Water\" \"a\" \"x y\"\nSetMeta \"Water\" \"b\" \"2\"\n", f0.str());
    EXPECT_EQ("PyKo.SetMeta ( \"Water\", \"a\", \"x y\" )\nPyKo.SetMeta ( \"Water\", \"b\", \"2\" )\n", f1.str());
    EXPECT_EQ("", f2.str());
}
