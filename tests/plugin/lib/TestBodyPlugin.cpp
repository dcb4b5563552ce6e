// A user body plug-in as an installation would ship one: its own body class
// and the three exports. Built in variants: TEST_PLUGIN_BEGIN_FAILS makes
// BeginPlugin refuse, TEST_PLUGIN_NO_END leaves EndPlugin out.
#include <string>

#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"

namespace {

class PluginBody : public Cb::Body {
public:
    explicit PluginBody(const std::string& name) : Cb::Body(name) {}
    // Answers what only this library's code can say, so a caller sees whose
    // code built the object.
    std::string emptyText() const override { return "plug-in body " + name(); }
};

#ifndef TEST_PLUGIN_BEGIN_FAILS
int g_cleanupKey;

void cleanup() { Cb::logInfo("Test plug-in cleaned up"); }
#endif

}  // namespace

extern "C" Cb::Object* UserBodyAlloc(const char*, const char* bodyName) { return new PluginBody(bodyName); }

extern "C" bool BeginPlugin(Cb::ForeignFactory* host) {
#ifdef TEST_PLUGIN_BEGIN_FAILS
    (void)host;
    return false;
#else
    // The record must carry the host's own tables, not copies.
    if (!host || host->factory != &Cb::Factory::instance() || host->channelAllocators != &Cb::channelCreateTable() ||
        host->channelTests != &Cb::channelTestTable() || host->valueAllocators != &Cb::valueAllocators() ||
        host->valueTests != &Cb::valueTypeTests())
        return false;
    host->factory->registerCleanup(&g_cleanupKey, &cleanup);
    return true;
#endif
}

#ifndef TEST_PLUGIN_NO_END
extern "C" void EndPlugin() {}
#endif
