#pragma once
// The library as the module uses it: started on first use, kept up by the
// module until the interpreter exits and by every object that holds library
// data, and ended when the last of them lets go. Every call into the library
// holds one lock, so Python threads may share the module safely.

#include <Python.h>

#include <memory>
#include <mutex>

namespace ztpy {

class Session {
public:
    // The running session; starts one when none runs. With CORIX_PATH set
    // (not empty) the library starts with its built-in body types and every
    // signature; without it, with the built-in body types only, so caches
    // still read and bodies of those types can be built.
    static std::shared_ptr<Session> acquire();
    // Lets the module's own reference go (at interpreter exit).
    static void releaseModuleReference();

    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool withSignatures() const { return withSignatures_; }

private:
    explicit Session(bool withSignatures) : withSignatures_(withSignatures) {}

    bool withSignatures_;
};

// Releases the GIL for a scope. Taking it back may end the thread, when a
// daemon thread comes back while the interpreter shuts down: the interpreter
// then unwinds the thread, which must be able to leave this destructor.
class GilRelease {
public:
    GilRelease();
    ~GilRelease() noexcept(false);
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

// Holds the library lock for a scope. A contended lock is waited for with the
// GIL released, so the thread holding it can always take the GIL back.
class LibraryLock {
public:
    LibraryLock();
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

private:
    std::unique_lock<std::recursive_mutex> lock_;
};

}  // namespace ztpy
