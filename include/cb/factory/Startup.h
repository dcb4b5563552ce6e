#pragma once
// Library start-up and shutdown. Cb::begin creates the process-wide state in a
// fixed order (expression tables and global context, value types and the
// "Toggle" group, shape types, channel types, the factory with the "ztp"
// reader and writer, then optionally the built-in body types and the
// signatures); Cb::end releases it. Both nest: only the outermost pair works.

#include <string>
#include <vector>

namespace Cb {

// Starts the library. With bodies, registers the thirteen built-in body types
// and loads every signature; throws "Please set $CORIX_PATH to the Corix root
// directory." when CORIX_PATH is unset or empty (the body types are
// registered by then). A start-up that throws part-way leaves the nesting
// count raised; the matching end() releases what exists.
void begin(bool withBodies);
// The matching shutdown: channel types, value types and the "Toggle" group,
// the factory, the global expression context, the library log file. Never
// throws. An end() without a begin() is ignored.
void end();

// The nesting count: 0 when the library is not started.
int startupDepth();

// The library for the length of a scope: begin(withBodies) on construction,
// the matching end() on destruction or at stop(). A start-up that throws
// part-way is ended before the exception leaves.
class LibrarySession {
public:
    explicit LibrarySession(bool withBodies) {
        try {
            begin(withBodies);
        } catch (...) {
            end();
            throw;
        }
    }
    ~LibrarySession() { stop(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
    // Ends the library before the scope does (once).
    void stop() {
        if (active_) end();
        active_ = false;
    }

private:
    bool active_ = true;
};

// The built-in body types, in registration order.
const std::vector<std::string>& builtinBodyTypes();

}  // namespace Cb
