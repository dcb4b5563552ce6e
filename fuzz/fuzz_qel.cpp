// QEL text: parsed as an expression and as a string expression, evaluated on
// the global context, bound to a body's particle and field contexts and
// evaluated per element, and set as the text of body values that evaluate
// through the body. Syntax and context errors are fine; crashes, leaks and
// hangs are not.
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "ParticleBodies.h"
#include "RichBodies.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/qel/QelNodes.h"
#include "cb/qel/QelParser.h"
#include "cb/values/Value.h"
#include "cb/values/ValueSection.h"

namespace {

using NodePtr = std::unique_ptr<Cbp::QelNode>;

const Cb::FrameTime kTime{.frame = 12.5f, .timestep = 7, .time = 2.25, .frameDt = 0.04, .dt = 0.01};

// Components past the three of a vector and a negative one are asked for too.
void evalComponents(Cbp::QelNode& node, int thread) {
    std::string text;
    for (int c = -1; c <= 3; ++c) {
        try {
            node.eval(kTime, c, thread);
            node.evalString(text, kTime, c, thread);
            node.evalAt({{0.5f, -1.0f, 2.0f}}, kTime, c, thread);
        } catch (const std::exception&) {
        }
    }
}

// Three particles in one tile, the rich body's values and fields.
std::unique_ptr<Cb::Body> makeBody() {
    auto body = testsupport::makeParticleBody({"Water", {{{0.5f, 1.5f, 2.5f}}, {{3, 4, 5}}, {{-1, 0, 0.25f}}}});
    testsupport::addRichValues(*body);
    testsupport::addRichFields(*body);
    return body;
}

void evalInContext(const std::string& text, Cb::Body& body, const std::string& shape, int64_t elements) {
    Cb::QelContext context(&body, shape, kTime);
    NodePtr tree(Cb::parseExpression(text, -FLT_MAX, FLT_MAX));
    tree->bind(&context);
    for (int64_t e = 0; e < elements; ++e) {
        context.setCurrentElement(0, uint64_t(e));
        evalComponents(*tree, 0);
    }
}

template <class V>
void evalAsValue(const std::string& text, Cb::Body& body, const std::string& name) {
    auto owned = std::make_unique<V>(name);
    {
        // A context that fails to bind one of the body's values while it is
        // made stays on the body's context stack after its constructor threw
        // (being mended in QelContext): only texts that parse and bind on
        // their own become a value, so the campaign goes on past that fault.
        NodePtr probe(V::isString ? Cb::parseStringExpression(text)
                                  : Cb::parseExpression(text, float(owned->hardMin(0)), float(owned->hardMax(0))));
        Cb::QelContext context(&body, "Particle", kTime);
        probe->bind(&context);
    }
    auto* value = static_cast<V*>(body.sectionAt(0)->addValue(std::move(owned)));
    value->setExpression(text, 0);
    Cb::QelContext context(&body, "Particle", kTime);
    for (int64_t e = 0; e < 3; ++e) {
        context.setCurrentElement(0, uint64_t(e));
        std::string out;
        value->evalString(out, kTime, 0, 0);
        value->evaluate(kTime, 0, 0);
    }
}

template <class F>
void attempt(F&& f) {
    try {
        f();
    } catch (const std::exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzzsupport::Library library;
    attempt([&] {
        NodePtr tree(Cb::parseExpression(text, -FLT_MAX, FLT_MAX));
        evalComponents(*tree, 0);
    });
    attempt([&] {
        NodePtr tree(Cb::parseStringExpression(text));
        evalComponents(*tree, 0);
    });
    std::unique_ptr<Cb::Body> body = makeBody();
    attempt([&] { evalInContext(text, *body, "Particle", 3); });
    attempt([&] { evalInContext(text, *body, "Field", 2); });
    attempt([&] { evalAsValue<Cb::Value1f>(text, *body, "Probe"); });
    attempt([&] { evalAsValue<Cb::Value1s>(text, *body, "Label probe"); });
    return 0;
}
