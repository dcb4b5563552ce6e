// Byte-exact txscene output (hex words are pinned by the two-particle file):
// the four hex lists, the bounding box, write failures; and the chunked
// sequence the lists come from. The plain text forms of the lists are never
// written by the converter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "CaptureOutput.h"
#include "GatheredExport.h"
#include "MessageOf.h"
#include "SceneWriter.h"
#include "Sequence.h"
#include "TempPath.h"

namespace {

struct V3 {
    float x, y, z;
};

template <class T>
std::string word(T v) {
    char out[9];
    hexWord(v, out);
    return out;
}

// Runs one list writer into a temporary file and returns the text.
template <class Write>
std::string written(Write write) {
    testsupport::TempDir dir;
    FILE* f = std::fopen(dir.file("x").c_str(), "w");
    EXPECT_TRUE(write(f));
    std::fclose(f);
    return testsupport::readText(dir.file("x"));
}

// The whole output file and the summary of writeParticleFile, at frame 12.5.
std::pair<std::string, std::string> writtenFile(std::vector<V3> positions, std::vector<V3> velocities) {
    Sequence p(12, kParticleBlockCapacity), v(12, kParticleBlockCapacity);
    p.appendRange(positions.data(), int64_t(positions.size()));
    v.appendRange(velocities.data(), int64_t(velocities.size()));
    testsupport::TempDir dir;
    testsupport::CaptureStdout summary;
    EXPECT_TRUE(writeParticleFile(dir.file("out").c_str(), "name", 0.1f, 24.0f, 12.5f, p, v));
    EXPECT_EQ(0, p.count() + v.count());  // freed on return
    return {testsupport::readText(dir.file("out")), summary.finish()};
}

}  // namespace

TEST(SceneWriter, ParticleNumber16777216AndANaNInTheBoundingBox) {
    EXPECT_EQ("00000001", word(uint32_t(16777216)));
    BoundingBox box;  // a NaN keeps the minimum and poisons the maximum
    const float p[3] = {1.0f, NAN, -2.0f};
    box.widen(p);
    EXPECT_TRUE(box.min[0] == 1.0f && box.min[1] == 100000.0f && std::isnan(box.max[1]) && box.max[2] == -2.0f);
}

TEST(SceneWriter, TwoParticlesAndNoneAreByteExact) {
    auto [text, summary] = writtenFile({{0, 0, 0}, {1.0f, -100000.0f, -0.0f}}, {{24, 0, 0}, {0, 0, 0}});
    EXPECT_EQ("exported 2 particles\n"
              "bounding box is (0.000, -100000.000, -0.000):(1.000, 0.000, -0.000)\n"
              "center of the bounding box is (0.500, -50000.000, -0.000)\n",
              summary);
    EXPECT_EQ("GeomParticleSystem name {\n  render_type=7;\n"
              "  positions=interpolate((12.500000, ListVectorHex(\"0000000000000000000000000000803F0050C3C700000080\")));\n"
              "  velocities=interpolate((12.500000, ListVectorHex(\"0000803F0000000000000000000000000000000000000000\")));\n"
              "  ids=interpolate((12.500000, ListIntHex(\"0000000001000000\")));\n"
              "  radii=interpolate((12.500000, ListFloatHex(\"CDCCCC3DCDCCCC3D\")));\n"
              "  primary_visibility=1;\n}\n\n",
              text);
    // The empty export keeps the initial box.
    std::tie(text, summary) = writtenFile({}, {});
    EXPECT_EQ("exported 0 particles\n"
              "bounding box is (100000.000, 100000.000, 100000.000):(-100000.000, -100000.000, -100000.000)\n"
              "center of the bounding box is (0.000, 0.000, 0.000)\n",
              summary);
    EXPECT_EQ("GeomParticleSystem name {\n  render_type=7;\n"
              "  positions=interpolate((12.500000, ListVectorHex(\"\")));\n"
              "  velocities=interpolate((12.500000, ListVectorHex(\"\")));\n"
              "  ids=interpolate((12.500000, ListIntHex(\"\")));\n"
              "  radii=interpolate((12.500000, ListFloatHex(\"\")));\n"
              "  primary_visibility=1;\n}\n\n",
              text);
}

TEST(SceneWriter, BulkEncodingAgreesWithHexWordForEveryByte) {
    Sequence s(12, 7);  // runs of odd length end inside a 16-byte piece
    std::vector<uint32_t> words;
    for (uint32_t b = 0; b < 256; ++b) words.push_back(b * 0x01010101u ^ (b << 7));
    while (words.size() % 3) words.push_back(0xDEADBEEFu);
    s.appendRange(words.data(), int64_t(words.size() / 3));
    float one = 1.0f;
    std::string expected = "  v=interpolate((0.000000, ListVectorHex(\"";
    for (uint32_t w : words) {
        float f;
        std::memcpy(&f, &w, 4);
        expected += std::isnan(f) ? word(w) : word(f * one);
    }
    EXPECT_EQ(expected + "\")));\n", written([&](FILE* f) { return writeListVectorHex(f, s, "v", &one, true, 0.0f); }));
}

TEST(SceneWriter, FailedWritesAreReported) {
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, full);
    EXPECT_FALSE(writeListIntHex(full, 3, true, 1.0f));
    std::fclose(full);
    Sequence positions(12, 4), velocities(12, 4);
    *positions.appendAs<V3>() = {1, 2, 3};
    testsupport::TempDir dir;
    testsupport::CaptureStderr err;
    testsupport::CaptureStdout out;
    EXPECT_FALSE(writeParticleFile("/dev/full", "p", 0.1f, 24.0f, 1.0f, positions, velocities));
    EXPECT_EQ(0, positions.count());
    EXPECT_FALSE(writeParticleFile(dir.file("no/such/dir/out.txscene").c_str(), "p", 0.1f, 24.0f, 1.0f, positions,
                                   velocities));
    EXPECT_EQ("", out.finish());
    EXPECT_EQ("Can't write vertices to file\nCan't create output file!\n", err.finish());
}

// The order of the elements across blocks is checked by the export of 20001
// particles.
TEST(Sequence, TwentyThousandAndOneElementsTakeTwoBlocksAndClearFreesThem) {
    Sequence s(4, kParticleBlockCapacity);
    for (int i = 0; i < 20001; ++i) *s.appendAs<int>() = i;
    ASSERT_TRUE(s.head() && s.head()->next && !s.head()->next->next);
    EXPECT_TRUE(s.count() == 20001 && s.head()->used == 20000 && s.head()->next->used == 1);
    EXPECT_EQ(s.head(), s.head()->next->prev);
    EXPECT_EQ(2 * (20000 * 4 + sizeof(_SequenceBlock)), s.reservedBytes());
    s.clear();
    EXPECT_TRUE(s.count() == 0 && s.reservedBytes() == 0u && s.head() == nullptr);
    EXPECT_EQ("[_SequenceBlock] Could not allocate memory", testsupport::messageOf([] { Sequence(12, 0); }));
}
