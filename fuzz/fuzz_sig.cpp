// Signature text: compiled, applied to an empty body and to one that already
// holds particles and values, stored in the factory and built from there;
// the bodies it makes must survive a write and a read unchanged.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "ParticleBodies.h"
#include "RichBodies.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/SigRoot.h"

namespace {

// Applies and loads the body's channels; false when the signature is refused.
bool applyTo(Cbp::Root& root, Cb::Body& body) {
    try {
        root.apply(&body);
        fuzzsupport::touchChannels(body);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzzsupport::Library library;
    std::unique_ptr<Cbp::Root> root;
    try {
        root.reset(Cb::compileSignatureText(text, "fuzz.sig"));
    } catch (const std::exception&) {
        return 0;
    }
    auto empty = std::make_unique<Cb::Body>("Empty");
    auto particles = testsupport::makeParticleBody({"Water", {{{0.5f, 1.5f, 2.5f}}, {{3, 4, 5}}}});
    testsupport::addRichValues(*particles);
    std::vector<Cb::Body*> bodies;
    if (applyTo(*root, *empty)) bodies.push_back(empty.get());
    if (applyTo(*root, *particles)) bodies.push_back(particles.get());
    std::unique_ptr<Cb::Body> built;
    try {
        const std::string type = root->child(0) ? root->child(0)->text() : "";
        Cb::Factory::instance().loadSignature(fuzzsupport::scratchFile(""), std::move(root), false);
        built.reset(Cb::Factory::instance().createFromSignature(type));
        fuzzsupport::touchChannels(*built);
        bodies.push_back(built.get());
    } catch (const std::exception&) {
    }
    fuzzsupport::expectRoundTrip(bodies, true);
    return 0;
}
