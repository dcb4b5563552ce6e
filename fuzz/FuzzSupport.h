#pragma once
// What every harness shares: a scratch folder that CORIX_PATH names (empty,
// so start-up loads no signature), a quiet single-threaded library, the
// library started and ended around each input, and the walk that loads every
// channel of a body the way a conversion would.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Cb {
class Body;
}

namespace fuzzsupport {

// Once per process (LLVMFuzzerInitialize, defined with these): makes the scratch folder
// (removed at exit), points CORIX_PATH at it, keeps OpenMP to one thread
// (one core, and results that do not hang on scheduling) and silences the
// library's information and warning lines.
void initialize();

// A file in the scratch folder.
std::string scratchFile(const std::string& name);
// Writes the bytes to the file (replacing it); aborts when it cannot, since
// nothing after it would test anything.
void writeFile(const std::string& path, const uint8_t* data, size_t size);

// Cb::begin(true) .. Cb::end() around one input.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

// Loads what every channel of every shape holds: particle channels made
// resident, buffer and field channels read through, with their statistics.
// Damaged data throws as the library reports it.
void touchChannels(const Cb::Body& body);

// Writes the bodies with the library's writer (every shape and channel,
// compressed or not) to a scratch file and reads it back: every body the
// writer takes must come back with the same description (RichBodies.h), and
// the reader must take the whole file. Anything else is a finding. A body the
// writer refuses with an exception is left out. Returns the bodies written.
int expectRoundTrip(const std::vector<Cb::Body*>& bodies, bool compress);

// Prints the message and both texts, then aborts: a finding for the fuzzer.
[[noreturn]] void fail(const std::string& message, const std::string& expected = "", const std::string& got = "");

}  // namespace fuzzsupport
