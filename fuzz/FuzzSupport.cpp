#include "FuzzSupport.h"

#include <omp.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "RichBodies.h"
#include "cb/Log.h"
#include "cb/factory/Startup.h"
#include "cb/fields/FieldChannel.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/Shape.h"

namespace fuzzsupport {

namespace {

std::string& scratchFolder() {
    static std::string folder;
    return folder;
}

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

// Reads every element once; the sum keeps the reads from being dropped.
volatile float sink;

void readThrough(const Cb::Channel& channel) {
    const zt::vec3f lo = channel.min3f(), hi = channel.max3f(), mean = channel.mean3f();
    sink = lo[0] + hi[1] + mean[2] + float(channel.size()) + float(channel.empty());
}

// Names from damaged input may hold any byte.
std::string printable(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\n' || (c >= 0x20 && c < 0x7f)) {
            out += char(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        }
    }
    return out;
}

}  // namespace

void initialize() {
    if (!scratchFolder().empty()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "cb-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fail("cannot make the scratch folder " + pattern);
    scratchFolder() = pattern;
    std::atexit(removeScratch);
    setenv("CORIX_PATH", pattern.c_str(), 1);
    unsetenv("CORIX_USER_SIG_PATH");
    // A thread-count value in a file may ask OpenMP for more threads; the
    // limit holds whatever it asks.
    setenv("OMP_NUM_THREADS", "1", 1);
    setenv("OMP_THREAD_LIMIT", "1", 1);
    omp_set_num_threads(1);
    Cb::verbosity = "SILENT";
}

std::string scratchFile(const std::string& name) { return scratchFolder() + "/" + name; }

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out.flush()) fail("cannot write " + path);
}

Library::Library() {
    try {
        Cb::begin(true);
    } catch (...) {
        Cb::end();
        fail("the library does not start");
    }
}

Library::~Library() { Cb::end(); }

void touchChannels(const Cb::Body& body) {
    for (const auto& [kind, shape] : body.shapes()) {
        for (int c = 0; c < shape->channelCount(); ++c) {
            const Cb::Channel& channel = *shape->channel(c);
            if (const auto* p = dynamic_cast<const Cb::ParticleChannelBase*>(&channel)) {
                p->makeResident();
                for (int64_t g = 0; g < p->rawStorage().blockCount(); ++g) sink = float(p->blockBytes(g).size());
            } else if (const auto* f = dynamic_cast<const Cb::FieldChannelBase*>(&channel)) {
                f->ensureLoaded();
            } else if (const auto* b = dynamic_cast<const Cb::BufferChannelBase*>(&channel)) {
                const auto* bytes = static_cast<const uint8_t*>(b->rawData());
                const size_t n = b->size() * b->elementBytes();
                if (n > 0) sink = float(bytes[0] ^ bytes[n - 1]);
            }
            readThrough(channel);
        }
    }
}

int expectRoundTrip(const std::vector<Cb::Body*>& bodies, bool compress) {
    static const std::string path = scratchFile("round-trip.ztp");
    std::vector<std::string> expected;
    {
        Cb::ZtpWriter writer;
        writer.open(path);
        for (Cb::Body* body : bodies) {
            try {
                testsupport::describeBody(*body);  // loads every channel
            } catch (const std::exception&) {
                continue;  // data that cannot be read cannot be written either
            }
            try {
                writer.writeBody(*body, "*.*", compress);
            } catch (const std::exception&) {
                continue;
            }
            // Writing refreshes each channel's stored count and statistics.
            expected.push_back(testsupport::describeBody(*body));
        }
        writer.close();
    }
    std::unique_ptr<Cb::ZtpReader> reader;
    try {
        reader = std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    } catch (const std::exception& e) {
        fail(std::string("the reader refuses what the writer wrote: ") + e.what());
    }
    if (reader->bodyCount() != int(expected.size()))
        fail("the reader takes " + std::to_string(reader->bodyCount()) + " of the " +
             std::to_string(expected.size()) + " bodies written");
    for (size_t i = 0; i < expected.size(); ++i) {
        std::string got;
        try {
            got = testsupport::describeBody(*reader->storedBody(int(i)));
        } catch (const std::exception& e) {
            fail("body " + std::to_string(i) + " written cannot be read back: " + e.what());
        }
        if (got != expected[i])
            fail("body " + std::to_string(i) + " reads back otherwise (" + (compress ? "" : "un") + "compressed)",
                 expected[i], got);
    }
    return int(expected.size());
}

void fail(const std::string& message, const std::string& expected, const std::string& got) {
    if (!expected.empty() || !got.empty())
        std::fprintf(stderr, "---- expected:\n%s\n---- got:\n%s\n", printable(expected).c_str(),
                     printable(got).c_str());
    // The line also goes through the sanitizers' report channel, which
    // libFuzzer's -close_fd_mask keeps open; the texts show when the input
    // is run again without it.
    __sanitizer_report_error_summary(("FUZZ FINDING: " + message).c_str());
    std::abort();
}

}  // namespace fuzzsupport

// libFuzzer calls it once before the first input, in every harness.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::initialize();
    return 0;
}
