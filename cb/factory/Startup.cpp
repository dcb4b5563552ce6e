#include "cb/factory/Startup.h"

#include "cb/Log.h"
#include "cb/factory/BuiltinTypes.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelParser.h"
#include "cb/values/ValueTypes.h"

namespace Cb {

namespace {

int g_depth = 0;

// The code of every built-in type: a plain Body bearing the requested name.
Object* allocPlainBody(const char*, const char* bodyName) { return new Body(bodyName ? bodyName : ""); }

}  // namespace

const std::vector<std::string>& builtinBodyTypes() {
    static const std::vector<std::string> types{
        "Body",     "Camera",          "Field",      "Mesh", "Volume", "Field-Gas", "Field-Fire",
        "Field-Smoke", "Particle", "Particle-Liquid", "Rigid-Body", "Hair", "Tet"};
    return types;
}

void begin(bool withBodies) {
    if (g_depth++ >= 1) return;
    resetQelTables();
    QelContext::createGlobal();
    registerValueTypes();
    registerShapeTypes();
    registerChannelTypes();
    Factory& factory = Factory::create();
    factory.registerBodyReader("ztp");
    factory.registerBodyWriter("ztp");
    if (!withBodies) return;
    for (const std::string& type : builtinBodyTypes()) factory.registerBodyCode(type, &allocPlainBody);
    factory.loadSignatures();
}

void end() {
    // An unmatched end must not push the count below zero: the next begin
    // would then start nothing while its end released everything.
    if (g_depth <= 0) return;
    if (--g_depth >= 1) return;
    releaseChannelTypes();
    releaseValueTypes();
    Factory::destroy();
    QelContext::destroyGlobal();
    closeLogFile();
}

int startupDepth() { return g_depth; }

Session::Session(bool withBodies) {
    started_ = true;
    try {
        begin(withBodies);
    } catch (...) {
        stop();
        throw;
    }
}

void Session::stop() noexcept {
    if (started_) end();
    started_ = false;
}

}  // namespace Cb
