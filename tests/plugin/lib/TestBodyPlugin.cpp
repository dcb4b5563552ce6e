// A user body plug-in as an installation would ship one: its own body class
// and the three exports. Built in variants: TEST_PLUGIN_BEGIN_FAILS makes
// BeginPlugin refuse, TEST_PLUGIN_NO_END leaves EndPlugin out.
#include <string>

#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"

namespace {

// Answers what only this library's code can say, so a caller sees whose code
// built the object.
struct PluginBody : Cb::Body {
    using Cb::Body::Body;
    std::string emptyText() const override { return "plug-in body " + name(); }
};

}  // namespace

extern "C" Cb::Object* UserBodyAlloc(const char*, const char* bodyName) { return new PluginBody(bodyName); }

extern "C" bool BeginPlugin([[maybe_unused]] Cb::ForeignFactory* host) {
#ifdef TEST_PLUGIN_BEGIN_FAILS
    return false;
#else
    // The record must carry the host's own tables, not copies.
    if (!host || host->factory != &Cb::Factory::instance() || host->channelAllocators != &Cb::channelCreateTable() ||
        host->channelTests != &Cb::channelTestTable() || host->valueAllocators != &Cb::valueAllocators() ||
        host->valueTests != &Cb::valueTypeTests())
        return false;
    static int cleanupKey;
    host->factory->registerCleanup(&cleanupKey, [] { Cb::logInfo("Test plug-in cleaned up"); });
    return true;
#endif
}

#ifndef TEST_PLUGIN_NO_END
extern "C" void EndPlugin() {}
#endif
