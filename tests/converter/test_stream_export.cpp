// The streaming export against the gathering one, byte for byte and message
// for message: bodies without or with odd velocities, blocks whose velocity
// counts differ, NaNs and signed zeros in the box across blocks, blocks large
// enough to stream through, damaged data late in the file, shared samples and
// damaged copies of them; the same bytes on any number of threads; and the
// output's place: failures leave no file and an existing target untouched,
// devices and links are written as before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <regex>
#include <set>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "GatheredExport.h"
#include "ParticleBodies.h"
#include "ScopedThreads.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"

namespace {

using testsupport::ParticleBodySpec;
using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

struct Outcome {
    bool ok = false;
    std::string out, err, text;
    bool written = false;

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << (o.ok ? "ok" : "failed") << "\n--- stdout\n" << o.out << "--- stderr\n" << o.err << "--- file "
              << (o.written ? std::to_string(o.text.size()) + " bytes: " + o.text.substr(0, 200) : "none");
}

// Inflate failures name the addresses of their buffers, which differ from run to run.
std::string withoutAddresses(const std::string& text) {
    return std::regex_replace(text, std::regex("0x[0-9a-f]+"), "0x?");
}

class StreamExport : public ::testing::Test {
protected:
    // Writes the bodies (inside a started library) to `name`; returns its path.
    std::string write(const std::string& name, const std::vector<ParticleBodySpec>& specs,
                      const std::function<void(Cb::Body&)>& edit = [](Cb::Body&) {}) {
        testsupport::writeParticleFile(dir.file(name), specs, edit);
        return dir.file(name);
    }

    Outcome run(bool streaming, const std::string& input, const std::string& output, float fps = 24.0f) {
        std::remove(output.c_str());
        Outcome o;
        {
            testsupport::CaptureStderr err;
            testsupport::CaptureStdout out;
            const ExportRequest request{input, output, "p", 0.1f, fps, 12.5f, true};
            o.ok = streaming ? exportParticles(request) : exportParticlesGathered(request);
            o.out = out.finish();
            o.err = withoutAddresses(err.finish());
        }
        o.written = testsupport::fileExists(output);
        if (o.written && std::filesystem::is_regular_file(output)) o.text = testsupport::readText(output);
        return o;
    }

    // Both exports of one input, expected to agree in everything.
    Outcome expectSame(const std::string& input, float fps = 24.0f) {
        const Outcome gathered = run(false, input, dir.file("gathered.txscene"), fps);
        const Outcome streamed = run(true, input, dir.file("streamed.txscene"), fps);
        EXPECT_EQ(gathered, streamed) << input;
        return streamed;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

std::vector<zt::vec3f> spread(int n, float step) {
    std::vector<zt::vec3f> p;
    for (int i = 0; i < n; ++i)
        p.push_back({{float(i % 23) * step + 0.5f, float(i % 11) * 0.7f + 0.25f, float(i % 5) * 1.9f + 0.1f}});
    return p;
}

// The velocity channel of a body keeps `keep(count)` elements in each block,
// out of step with its positions.
void blocksResized(Cb::Body& body, const std::string& channel, const std::function<int64_t(int64_t)>& keep) {
    Cb::ParticleShape& shape = *body.mutableParticleShape();
    shape.setSyncDeferral(1);
    auto& v = shape.mutableChannelAs<Vec3fChannel>(channel)->blocks();
    for (int64_t g = 0; g < v.blockCount(); ++g) {
        zt::block3<zt::vec3f>* b = v.typedBlock(g);
        if (!b) continue;
        const int64_t n = b->count(), wanted = keep(n);
        b->resize(wanted);
        for (int64_t e = n; e < wanted; ++e) (*b)[e] = {{float(e), 2.0f, -3.0f}};
    }
}

TEST_F(StreamExport, AgreesWithGatheringOnOddBodiesAndBlocks) {
    const std::string file = write(
        "odd.ztp",
        {{"first", spread(700, 1.3f)}, {"plain", spread(90, 0.9f), false}, {"odd", spread(40, 2.0f)},
         {"nopos", spread(30, 1.0f)}, {"short", spread(500, 1.1f)}, {"long", spread(300, 1.7f)},
         {"floatpos", spread(20, 1.0f)}, {"hollow", spread(60, 1.0f)}, {"empty", {}}},
        [](Cb::Body& b) {
            Cb::ParticleShape& shape = *b.mutableParticleShape();
            if (b.name() == "odd") {
                shape.removeChannel("velocity");
                shape.setSyncDeferral(1);
                shape.createChannel1f("velocity", 0.0f);
            } else if (b.name() == "nopos") {
                shape.removeChannel("position");
            } else if (b.name() == "short") {
                blocksResized(b, "velocity", [](int64_t n) { return n / 2; });
            } else if (b.name() == "long") {
                blocksResized(b, "velocity", [](int64_t n) { return n + 7; });
            } else if (b.name() == "hollow") {
                // Blocks of no particles, with velocities beside them.
                blocksResized(b, "position", [](int64_t) { return 0; });
            } else if (b.name() == "floatpos") {
                shape.removeChannel("position");
                shape.setSyncDeferral(1);
                shape.createChannel1f("position", 1.0f);
            }
        });
    const Outcome o = expectSame(file);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(0u, o.out.find("exported 1630 particles\n")) << o.out;
    // An fps of 0 scales by infinity: even the zeros of missing velocities become NaN.
    expectSame(file, 0.0f);
    for (int threads : {1, 3}) {
        testsupport::ScopedThreads scope(threads);
        EXPECT_EQ(o, run(true, file, dir.file("again.txscene"))) << threads << " threads";
    }
}

TEST_F(StreamExport, BlocksOfNoParticlesFirstInAFileAddNothing) {
    // Each worker's first block holds nothing: its buffers are still unallocated.
    const std::string file = write("hollow.ztp", {{"hollow", spread(60, 1.0f)}}, [](Cb::Body& b) {
        blocksResized(b, "position", [](int64_t) { return 0; });
    });
    testsupport::ScopedThreads scope(1);
    const Outcome o = expectSame(file);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(0u, o.out.find("exported 0 particles\n")) << o.out;
}

TEST_F(StreamExport, TheBoxKeepsNaNsAndSignedZerosWhereOrderPutsThem) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Tiles of 9 units: particles at x 0.5, 9.5, 18.5 ... fall in blocks of their own.
    std::vector<zt::vec3f> p;
    for (int t = 0; t < 12; ++t) {
        const float x = 0.5f + 9.0f * float(t);
        p.push_back({{x, t % 3 == 0 ? 0.0f : -0.0f, t % 2 ? -0.0f : 0.0f}});
        p.push_back({{x + 0.25f, t == 5 || t == 9 ? nan : 0.5f, t == 11 ? nan : 0.25f}});
        p.push_back({{x + 0.5f, t % 4 == 0 ? -0.0f : 0.0f, t == 7 ? nan : 0.0f}});
    }
    const std::string file = write("signs.ztp", {{"a", p}});
    const Outcome o = expectSame(file);
    EXPECT_TRUE(o.ok);
    for (int threads : {1, 2, 7}) {
        testsupport::ScopedThreads scope(threads);
        EXPECT_EQ(o, run(true, file, dir.file("again.txscene"))) << threads << " threads";
    }
}

TEST_F(StreamExport, BlocksTooLargeToHoldStreamThrough) {
    // 300000 particles in one tile: more than a run, in raw and compressed
    // blocks, with velocities short of and beyond the positions.
    std::vector<zt::vec3f> p(300000);
    for (size_t i = 0; i < p.size(); ++i) p[i] = {{float(i % 997) * 0.009f, float(i % 89) * 0.1f, float(i) * 1e-5f}};
    const std::string file = write("big.ztp", {{"even", p}, {"short", p}, {"long", p}}, [](Cb::Body& b) {
        if (b.name() == "short") blocksResized(b, "velocity", [](int64_t n) { return n - 40000; });
        if (b.name() == "long") blocksResized(b, "velocity", [](int64_t n) { return n + 40000; });
    });
    const Outcome o = expectSame(file);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(0u, o.out.find("exported 900000 particles\n")) << o.out;
}

TEST_F(StreamExport, LateDamageLeavesNoOutputAndAnExistingTargetUntouched) {
    const std::string file = write("late.ztp", {{"a", spread(3000, 1.2f)}, {"b", spread(4000, 1.4f)}},
                                   [](Cb::Body& b) { b.mutableParticleShape()->removeChannel("density"); });
    auto bytes = testsupport::readBytes(file);
    // The last body's last velocity block is the last thing in the file.
    bytes[bytes.size() - 60] ^= 0x5A;
    testsupport::writeFile(file, bytes);
    const Outcome o = expectSame(file);
    EXPECT_FALSE(o.ok || o.written);
    EXPECT_NE(std::string::npos, o.err.find("Unhandled exception: ZTP Decompression ")) << o.err;

    const std::string target = dir.file("kept.txscene");
    testsupport::writeFile(target, std::string("the previous frame"));
    {
        testsupport::CaptureStderr quiet;
        EXPECT_FALSE(exportParticles(ExportRequest{file, target, "p", 0.1f, 24.0f, 1.0f, false}));
    }
    EXPECT_EQ("the previous frame", testsupport::readText(target));
    // Nothing is left beside it.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"late.ztp", "kept.txscene"}));
}

TEST_F(StreamExport, TargetsThatCannotBeWrittenDevicesAndLinks) {
    const std::string file = write("in.ztp", {{"a", spread(2000, 1.1f)}});
    const Outcome reference = run(false, file, dir.file("reference.txscene"));
    ASSERT_TRUE(reference.ok);
    auto failure = [&](const std::string& target) {
        testsupport::CaptureStderr err;
        ExportSummary summary;
        EXPECT_FALSE(exportParticles(ExportRequest{file, target, "p", 0.1f, 24.0f, 12.5f, false}, &summary));
        err.finish();
        return summary.failure;
    };
    EXPECT_EQ("Can't create output file!", failure(dir.file("no/such/folder/out.txscene")));
    EXPECT_EQ("Can't create output file!", failure(dir.path()));
    EXPECT_EQ("Can't create output file!", failure(""));
    EXPECT_EQ("Can't write vertices to file", failure("/dev/full"));
    EXPECT_EQ(reference.ok, run(true, file, "/dev/null").ok);

    // A link is followed and stays a link; the file keeps its permissions.
    const std::string real = dir.file("real.txscene"), link = dir.file("link.txscene");
    testsupport::writeFile(real, std::string("old"));
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);
    {
        testsupport::CaptureStderr quiet;
        testsupport::CaptureStdout out;
        ASSERT_TRUE(exportParticles(ExportRequest{file, link, "p", 0.1f, 24.0f, 12.5f, true}));
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(reference.text, testsupport::readText(real));
    struct stat st;
    ASSERT_EQ(0, ::stat(real.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    if (::geteuid() != 0) {  // the superuser may write anything
        ::chmod(real.c_str(), 0440);
        EXPECT_EQ("Can't create output file!", failure(real));
        EXPECT_EQ(reference.text, testsupport::readText(real));
    }
}

// Every shared sample, and damaged copies of them: the same output, the same
// messages, the same exit, or the samples are not there.
TEST_F(StreamExport, SharedSamplesAndDamagedCopiesAgreeWithGathering) {
    const std::filesystem::path cases = std::filesystem::path(CB_SOURCE_DIR) / ".." / "shared" / "fixtures" / "cases";
    if (!std::filesystem::exists(cases)) GTEST_SKIP() << "no shared samples";
    std::vector<std::string> samples;
    for (const auto& entry : std::filesystem::directory_iterator(cases))
        if (entry.path().extension() == ".ztp") samples.push_back(entry.path().string());
    std::sort(samples.begin(), samples.end());
    ASSERT_FALSE(samples.empty());
    std::mt19937 rng(5);
    const std::string input = dir.file("damaged.ztp");
    for (const std::string& sample : samples) {
        expectSame(sample);
        const std::vector<uint8_t> original = testsupport::readBytes(sample);
        for (int copy = 0; copy < 12 && original.size() > 40; ++copy) {
            std::vector<uint8_t> bytes = original;
            for (int k = 0; k < 3; ++k) bytes[20 + rng() % (bytes.size() - 20)] ^= uint8_t(1u << (rng() % 8));
            testsupport::writeFile(input, bytes);
            SCOPED_TRACE(sample + " copy " + std::to_string(copy));
            expectSame(input);
        }
    }
}

}  // namespace
