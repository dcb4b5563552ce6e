#include "Session.h"

#include <pybind11/pybind11.h>

#include <cstdlib>

#include "cb/factory/Factory.h"
#include "cb/factory/Startup.h"
#include "cb/model/Body.h"

namespace py = pybind11;

namespace ztpy {

namespace {

// Never destroyed: C++ static destruction runs after the interpreter is gone,
// too late to end the library in order.
std::recursive_mutex& libraryMutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

std::weak_ptr<Session>& running() {
    static auto* session = new std::weak_ptr<Session>;
    return *session;
}

std::shared_ptr<Session>& moduleReference() {
    static auto* session = new std::shared_ptr<Session>;
    return *session;
}

// The code Cb::begin(true) registers for each built-in type: a plain body.
Cb::Object* plainBody(const char*, const char* bodyName) { return new Cb::Body(bodyName ? bodyName : ""); }

bool corixPathSet() {
    const char* root = std::getenv("CORIX_PATH");
    return root && *root;
}

}  // namespace

GilRelease::GilRelease() : state_(PyEval_SaveThread()) {}

GilRelease::~GilRelease() noexcept(false) { PyEval_RestoreThread(state_); }

LibraryLock::LibraryLock() : lock_(libraryMutex(), std::try_to_lock) {
    if (lock_.owns_lock()) return;
    if (PyGILState_Check()) {
        GilRelease released;
        lock_.lock();
    } else {
        lock_.lock();
    }
}

std::shared_ptr<Session> Session::acquire() {
    LibraryLock lock;
    if (std::shared_ptr<Session> session = running().lock()) return session;
    const bool withSignatures = corixPathSet();
    try {
        Cb::begin(withSignatures);
        if (!withSignatures) {
            Cb::Factory& factory = Cb::Factory::instance();
            for (const std::string& type : Cb::builtinBodyTypes()) factory.registerBodyCode(type, &plainBody);
        }
    } catch (...) {
        Cb::end();
        throw;
    }
    std::shared_ptr<Session> session(new Session(withSignatures));
    running() = session;
    moduleReference() = session;
    return session;
}

void Session::releaseModuleReference() {
    LibraryLock lock;
    moduleReference().reset();
}

Session::~Session() {
    LibraryLock lock;
    Cb::end();
}

}  // namespace ztpy
