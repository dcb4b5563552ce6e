// Byte-exact txscene output: hex words, the four lists, the bounding box and
// write failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "SceneWriter.h"
#include "Sequence.h"
#include "TempPath.h"

using testsupport::CaptureStderr;
using testsupport::CaptureStdout;
using testsupport::readText;
using testsupport::TempDir;

namespace {
struct V3 {
    float x, y, z;
};

std::string word(uint32_t v) {
    char out[9];
    hexWord(v, out);
    return out;
}
std::string word(float v) {
    char out[9];
    hexWord(v, out);
    return out;
}

// Runs one list writer into a temporary file and returns the text.
template <class Write>
std::string written(Write write) {
    TempDir dir;
    FILE* f = std::fopen(dir.file("x").c_str(), "w");
    EXPECT_TRUE(write(f));
    std::fclose(f);
    return readText(dir.file("x"));
}
}  // namespace

TEST(HexWord, LittleEndianBytesHighNibbleFirst) {
    EXPECT_EQ("0000803F", word(1.0f));
    EXPECT_EQ("01000000", word(uint32_t(1)));
    EXPECT_EQ("00010000", word(uint32_t(256)));
    EXPECT_EQ("0050C3C7", word(-100000.0f));
    EXPECT_EQ("00000080", word(-0.0f));
    EXPECT_EQ("CDCCCC3D", word(0.1f));
    EXPECT_EQ("00000001", word(uint32_t(16777216)));
    EXPECT_EQ("FFFFFFFF", word(uint32_t(0xFFFFFFFF)));
}

TEST(BoundingBox, NaNKeepsMinimumAndPoisonsMaximum) {
    BoundingBox box;
    float p[3] = {1.0f, NAN, -2.0f};
    box.widen(p);
    EXPECT_EQ(1.0f, box.min[0]);
    EXPECT_EQ(100000.0f, box.min[1]);
    EXPECT_TRUE(std::isnan(box.max[1]));
    EXPECT_EQ(-2.0f, box.max[2]);
}

TEST(SceneWriter, TwoParticleFileIsByteExact) {
    TempDir dir;
    const std::string out = dir.file("two.txscene");
    Sequence positions(12, kParticleBlockCapacity), velocities(12, kParticleBlockCapacity);
    *positions.appendAs<V3>() = {0, 0, 0};
    *positions.appendAs<V3>() = {1.0f, -100000.0f, -0.0f};
    *velocities.appendAs<V3>() = {24, 0, 0};
    *velocities.appendAs<V3>() = {0, 0, 0};

    CaptureStdout capture;
    ASSERT_TRUE(writeParticleFile(out.c_str(), "name", 0.1f, 24.0f, 1.0f, positions, velocities));
    EXPECT_EQ(
        "exported 2 particles\n"
        "bounding box is (0.000, -100000.000, -0.000):(1.000, 0.000, -0.000)\n"
        "center of the bounding box is (0.500, -50000.000, -0.000)\n",
        capture.finish());
    EXPECT_EQ(
        "GeomParticleSystem name {\n"
        "  render_type=7;\n"
        "  positions=interpolate((1.000000, ListVectorHex(\"0000000000000000000000000000803F0050C3C700000080\")));\n"
        "  velocities=interpolate((1.000000, ListVectorHex(\"0000803F0000000000000000000000000000000000000000\")));\n"
        "  ids=interpolate((1.000000, ListIntHex(\"0000000001000000\")));\n"
        "  radii=interpolate((1.000000, ListFloatHex(\"CDCCCC3DCDCCCC3D\")));\n"
        "  primary_visibility=1;\n"
        "}\n\n",
        readText(out));
    EXPECT_EQ(0, positions.count());  // freed on return
    EXPECT_EQ(0, velocities.count());
}

TEST(SceneWriter, ZeroParticlesKeepTheInitialBoxAndEmptyLists) {
    TempDir dir;
    const std::string out = dir.file("zero.txscene");
    Sequence positions(12, 10), velocities(12, 10);
    CaptureStdout capture;
    ASSERT_TRUE(writeParticleFile(out.c_str(), "particles", 0.1f, 24.0f, 1.0f, positions, velocities));
    EXPECT_EQ(
        "exported 0 particles\n"
        "bounding box is (100000.000, 100000.000, 100000.000):(-100000.000, -100000.000, -100000.000)\n"
        "center of the bounding box is (0.000, 0.000, 0.000)\n",
        capture.finish());
    EXPECT_EQ(
        "GeomParticleSystem particles {\n  render_type=7;\n"
        "  positions=interpolate((1.000000, ListVectorHex(\"\")));\n"
        "  velocities=interpolate((1.000000, ListVectorHex(\"\")));\n"
        "  ids=interpolate((1.000000, ListIntHex(\"\")));\n"
        "  radii=interpolate((1.000000, ListFloatHex(\"\")));\n"
        "  primary_visibility=1;\n}\n\n",
        readText(out));
}

TEST(SceneWriter, KeyTimeIsTheFrameWithSixDecimalsInEveryList) {
    Sequence s(12, 4);
    *s.appendAs<V3>() = {1, 2, 3};
    float scale = 2.0f;
    EXPECT_EQ("  velocities=interpolate((12.500000, ListVectorHex(\"00000040000080400000C040\")));\n",
              written([&](FILE* f) { return writeListVectorHex(f, s, "velocities", &scale, true, 12.5f); }));
    EXPECT_EQ("  ids=interpolate((12.500000, ListIntHex(\"0000000001000000\")));\n",
              written([&](FILE* f) { return writeListIntHex(f, 2, true, 12.5f); }));
    EXPECT_EQ("  radii=interpolate((12.500000, ListFloatHex(\"0000803F\")));\n",
              written([&](FILE* f) { return writeListFloatHex(f, 1.0f, 1, true, 12.5f); }));
}

TEST(SceneWriter, TextFormsOfTheLists) {
    Sequence s(12, 4);
    *s.appendAs<V3>() = {1, 2, 3};
    *s.appendAs<V3>() = {-1, 0.5f, 0};
    BoundingBox box;
    EXPECT_EQ(
        "  positions=interpolate((1.000000,\n    ListVector(\n"
        "      Vector(1.000000,2.000000,3.000000),\n"
        "      Vector(-1.000000,0.500000,0.000000)\n"
        "  ))\n    );\n",
        written([&](FILE* f) { return writeListVectorHex(f, s, "positions", box, false, 1.0f); }));
    EXPECT_EQ(-1.0f, box.min[0]);
    EXPECT_EQ(3.0f, box.max[2]);
    EXPECT_EQ("  ids=interpolate((1.000000, ListInt(0,1,2)));\n",
              written([&](FILE* f) { return writeListIntHex(f, 3, false, 1.0f); }));
    EXPECT_EQ("  radii=interpolate((1.000000, ListFloat(0.250000,0.250000)));\n",
              written([&](FILE* f) { return writeListFloatHex(f, 0.25f, 2, false, 1.0f); }));
}

TEST(SceneWriter, LargeListsStreamInOrder) {
    Sequence s(12, kParticleBlockCapacity);
    const int n = 50000;  // several encode buffers and sequence blocks
    for (int i = 0; i < n; ++i) *s.appendAs<V3>() = {float(i), 0, 0};
    BoundingBox box;
    std::string text = written([&](FILE* f) { return writeListVectorHex(f, s, "positions", box, true, 0.0f); });
    const std::string head = "  positions=interpolate((0.000000, ListVectorHex(\"";
    ASSERT_EQ(head.size() + size_t(n) * 24 + 6, text.size());
    EXPECT_EQ(word(float(n - 1)), text.substr(head.size() + size_t(n - 1) * 24, 8));
    EXPECT_EQ(float(n - 1), box.max[0]);
}

TEST(SceneWriter, BulkEncodingAgreesWithHexWordForEveryByte) {
    Sequence s(12, 7);  // runs of odd length end inside a 16-byte piece
    std::vector<uint32_t> words;
    for (uint32_t b = 0; b < 256; ++b) words.push_back(b * 0x01010101u ^ (b << 7));
    while (words.size() % 3) words.push_back(0xDEADBEEFu);
    for (size_t i = 0; i < words.size(); i += 3) std::memcpy(s.append(), &words[i], 12);
    float one = 1.0f;
    std::string text = written([&](FILE* f) { return writeListVectorHex(f, s, "v", &one, true, 0.0f); });
    std::string expected = "  v=interpolate((0.000000, ListVectorHex(\"";
    for (uint32_t w : words) {
        float f;
        std::memcpy(&f, &w, 4);
        expected += std::isnan(f) ? word(w) : word(f * one);
    }
    EXPECT_EQ(expected + "\")));\n", text);
}

TEST(SceneWriter, FailedWritesAreReported) {
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, full);
    EXPECT_FALSE(writeListIntHex(full, 3, true, 1.0f));
    std::fclose(full);

    Sequence positions(12, 4), velocities(12, 4);
    *positions.appendAs<V3>() = {1, 2, 3};
    CaptureStderr err;
    CaptureStdout out;
    EXPECT_FALSE(writeParticleFile("/dev/full", "p", 0.1f, 24.0f, 1.0f, positions, velocities));
    EXPECT_EQ("", out.finish());
    EXPECT_EQ("Can't write vertices to file\n", err.finish());
    EXPECT_EQ(0, positions.count());
}

TEST(SceneWriter, UncreatableOutputIsReported) {
    TempDir dir;
    Sequence positions(12, 4), velocities(12, 4);
    CaptureStderr err;
    EXPECT_FALSE(writeParticleFile(dir.file("no/such/dir/out.txscene").c_str(), "p", 0.1f, 24.0f, 1.0f, positions,
                                   velocities));
    EXPECT_EQ("Can't create output file!\n", err.finish());
}
