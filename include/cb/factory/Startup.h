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

// The library for the length of a scope: begin() on construction, end() on
// destruction or stop(), whichever comes first. A start-up that throws
// part-way is ended before the error passes on. Bodies made by plug-in code
// must be gone before the session ends, which unloads that code.
class Session {
public:
    explicit Session(bool withBodies = true);
    ~Session() { stop(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void stop() noexcept;

private:
    bool started_ = false;
};

// The nesting count: 0 when the library is not started.
int startupDepth();

// The built-in body types, in registration order.
const std::vector<std::string>& builtinBodyTypes();

}  // namespace Cb
