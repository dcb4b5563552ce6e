// The export driver end to end on files written by the library: body and
// block order, bodies without positions or usable velocities, coarse blocks,
// the two-block sequence, and failures; and the command line around it.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "CaptureOutput.h"
#include "ConverterCall.h"
#include "ExportParticles.h"
#include "ParticleBodies.h"
#include "SceneWriter.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/model/ParticleShape.h"

using testsupport::velocityOf;

namespace {

struct Call {
    int code;
    std::string out, err, text;  // text: the output file (argument 2) when written
};

// args[0] is the program name.
Call run(std::vector<std::string> args) {
    if (args.size() > 2) std::remove(args[2].c_str());
    const testsupport::ConverterCall called = testsupport::callConverter({args.begin() + 1, args.end()});
    Call c{called.code, called.out, called.err, ""};
    if (args.size() > 2 && testsupport::fileExists(args[2])) c.text = testsupport::readText(args[2]);
    return c;
}

class Export : public ::testing::Test {
protected:
    // Writes the bodies (inside a started library), then converts the file.
    Call convert(const std::vector<testsupport::ParticleBodySpec>& specs,
                 const std::function<void(Cb::Body&)>& edit = [](Cb::Body&) {}) {
        testsupport::writeParticleFile(dir.file("in.ztp"), specs, edit);
        return convert(dir.file("in.ztp"));
    }
    // Trailing characters after a number are accepted.
    Call convert(const std::string& input) { return run({"prog", input, out, "p", "0.1x", "1", "12.5"}); }

    testsupport::TempDir dir;
    const std::string out = dir.file("out.txscene");
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

std::string hexOf(const std::vector<zt::vec3f>& values) {
    std::string text;
    char w[9];
    for (const zt::vec3f& v : values)
        for (int a = 0; a < 3; ++a) text += (hexWord(v[a], w), w);
    return text;
}

// The quoted contents of a list line.
std::string listOf(const std::string& text, const std::string& list) {
    const size_t open = text.find('"', text.find("  " + list + "=")) + 1;
    return text.substr(open, text.find('"', open) - open);
}

}  // namespace

TEST_F(Export, BodiesAndBlocksInOrderAndVelocitiesStayWithTheirParticles) {
    // "first" fills tiles (0,0,0) and (1,0,0) out of order; "plain" has no
    // velocity channel and "odd" a float one: their particles get zero
    // velocities, and the later bodies' velocities stay with their particles.
    // "nopos" lacks positions and is skipped; "coarse" parks a particle in a
    // coarse tile's block, which is not exported.
    const Call e = convert({{"first", {{{0.5f, 0.5f, 0.5f}}, {{9.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}}},
                            {"plain", {{{2.5f, 0.5f, 0.5f}}}, false},
                            {"odd", {{{3.5f, 0.5f, 0.5f}}}},
                            {"nopos", {{{4.5f, 0.5f, 0.5f}}}},
                            {"coarse", {{{5.5f, 0.5f, 0.5f}}}}},
                           [](Cb::Body& b) {
                               auto* shape = b.mutableParticleShape();
                               if (b.name() == "odd") {
                                   shape->removeChannel("velocity");
                                   shape->setSyncDeferral(1);
                                   shape->createChannel1f("velocity", 0.0f);
                               } else if (b.name() == "nopos") {
                                   shape->removeChannel("position");
                               } else if (b.name() == "coarse") {
                                   auto& blocks = shape->positions()->blocks();
                                   ASSERT_GT(blocks.listCount(1), 1);
                                   blocks.typedBlock(1, 1)->append({{-4.0f, 0.5f, 0.5f}});
                                   shape->syncChannels();
                               }
                           });
    ASSERT_EQ(0, e.code) << e.err;
    EXPECT_EQ(hexOf({{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}, {{9.5f, 0.5f, 0.5f}}, {{2.5f, 0.5f, 0.5f}},
                     {{3.5f, 0.5f, 0.5f}}, {{5.5f, 0.5f, 0.5f}}}),
              listOf(e.text, "positions"));
    const zt::vec3f zero{{0, 0, 0}};
    EXPECT_EQ(hexOf({velocityOf(0), velocityOf(2), velocityOf(1), zero, zero, velocityOf(0)}),
              listOf(e.text, "velocities"));
    EXPECT_EQ(0u, e.out.find("exported 6 particles\n")) << e.out;
    // The message is logged as it stands, without a line end of its own.
    EXPECT_NE(std::string::npos, e.err.find("No position for this body, skipping")) << e.err;
    EXPECT_EQ(std::string::npos, e.err.find("No position for this body, skipping\n"));
}

TEST_F(Export, TwentyThousandAndOneParticlesAndFailuresThatWriteNothing) {
    const std::string none = dir.file("none.ztp");
    const Call missing = convert(none);
    EXPECT_EQ(1, missing.code);
    EXPECT_EQ(0u, missing.err.find("Actual parameters:\n\tinput: " + none + "\n\toutput: " + out +
                                   "\n\tshape name: p\n\tradius: 0.100\n\tfps: 1.000\n\tframe: 12.500\n"))
        << missing.err;
    EXPECT_NE(std::string::npos, missing.err.find("Unhandled exception: ZtpReader(" + none +
                                                  ") failed: Cannot open file: No such file or directory\n"));
    EXPECT_TRUE(missing.err.ends_with("Error reading file " + out + "!\n")) << missing.err;
    EXPECT_TRUE(missing.text.empty() && missing.out.empty());
    {
        testsupport::ScopedEnv unset("CORIX_PATH", nullptr);
        const Call noRoot = convert(none);
        EXPECT_EQ(1, noRoot.code);
        EXPECT_NE(std::string::npos,
                  noRoot.err.find("Unhandled exception: Please set $CORIX_PATH to the Corix root directory.\n"));
        EXPECT_EQ(0, Cb::startupDepth());  // the failed start-up was ended
    }
    // 20001 particles take two sequence blocks; with positions only the file
    // ends with the position blocks' data, and damaging it fails the run.
    std::vector<zt::vec3f> many;
    for (int i = 0; i < 20001; ++i) many.push_back({{float(i % 7) + 0.5f, float(i % 5) + 0.25f, float(i) * 1e-4f}});
    const Call e =
        convert({{"many", many, false}}, [](Cb::Body& b) { b.mutableParticleShape()->removeChannel("density"); });
    ASSERT_EQ(0, e.code) << e.err;
    EXPECT_EQ(0u, e.out.find("exported 20001 particles\n")) << e.out;
    EXPECT_EQ(hexOf(many), listOf(e.text, "positions"));
    EXPECT_EQ(std::string(size_t(20001) * 24, '0'), listOf(e.text, "velocities"));
    EXPECT_EQ(size_t(20001) * 8, listOf(e.text, "ids").size());
    auto bytes = testsupport::readBytes(dir.file("in.ztp"));
    bytes[bytes.size() - 100] ^= 0x5A;
    testsupport::writeFile(dir.file("in.ztp"), bytes);
    const Call damaged = convert(dir.file("in.ztp"));
    EXPECT_EQ(1, damaged.code);
    EXPECT_NE(std::string::npos, damaged.err.find("Unhandled exception: ZTP Decompression ")) << damaged.err;
    EXPECT_EQ("", damaged.text);
}

TEST(CommandLine, WrongCallsPrintTheirMessageAndTheUsage) {
    const std::string usage =
        "usage: prog input_file output_file plugin_name radius fps frame\nParameters:\n"
        "\tinput_file     The ztp file containing the particles\n"
        "\toutput_file    The resulting txscene file containing the particle geometry plugin\n"
        "\tplugin_name    The name of the generated plugin\n"
        "\tradius         The radius of the generated particles\n"
        "\tfps            The frames per seconds\n";
    // Numbers are checked in order, radius first.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"prog", "in.ztp", "out.txscene", "p", "0.1", "24"}, ""},
        {{"prog", "in.ztp", "out.txscene", "p", "0.1", "24", "1", "extra"}, ""},
        {{"prog", "in", "out", "p", "abc", "xyz", "1"}, "Can't parse the radius parameter (abc)\n"},
        {{"prog", "in", "out", "p", "0.1", "xyz", "qq"}, "Can't parse the fps parameter (xyz)\n"},
        {{"prog", "in", "out", "p", "0.1", "24", "qq"}, "Can't parse the frame parameter (qq)\n"},
    };
    for (const auto& [args, message] : cases) {
        const Call r = run(args);
        EXPECT_EQ(1, r.code);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(message + usage, r.err);
    }
}
