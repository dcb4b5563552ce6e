// The export driver end to end on files written by the library: body and
// block order, bodies without positions or velocities, coarse blocks, the
// two-block sequence, and failures.
#include <gtest/gtest.h>

#include <cstring>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "ParticleBodies.h"
#include "SceneWriter.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

using testsupport::makeParticleBody;

namespace {

struct Exported {
    bool ok;
    std::string out, err, text;
};

class Export : public ::testing::Test {
protected:
    // Writes the bodies (inside a started library), then runs the export.
    Exported run(const std::vector<testsupport::ParticleBodySpec>& specs, float fps = 1.0f,
                 const std::function<void(Cb::Body&)>& edit = nullptr) {
        {
            testsupport::CaptureStderr quiet;
            Cb::begin(true);
            std::vector<std::unique_ptr<Cb::Body>> bodies;
            std::vector<Cb::Body*> raw;
            for (const auto& s : specs) {
                bodies.push_back(makeParticleBody(s));
                if (edit) edit(*bodies.back());
                raw.push_back(bodies.back().get());
            }
            testsupport::writeBodies(dir.file("in.ztp"), raw);
            bodies.clear();
            Cb::end();
        }
        return exportFile(dir.file("in.ztp"), fps);
    }

    Exported exportFile(const std::string& input, float fps = 1.0f) {
        testsupport::CaptureStderr err;
        testsupport::CaptureStdout out;
        bool ok = exportParticles(input.c_str(), dir.file("out.txscene").c_str(), "p", 0.1f, fps, 1.0f);
        Exported e{ok, out.finish(), err.finish(), ""};
        if (testsupport::fileExists(dir.file("out.txscene"))) e.text = testsupport::readText(dir.file("out.txscene"));
        return e;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

std::string hexOf(float f) {
    char w[9];
    hexWord(f, w);
    return w;
}

std::string hexOf(const zt::vec3f& v) { return hexOf(v[0]) + hexOf(v[1]) + hexOf(v[2]); }

// The quoted contents of a list line.
std::string listOf(const std::string& text, const std::string& list) {
    const size_t at = text.find("  " + list + "=");
    const size_t open = text.find('"', at) + 1;
    return text.substr(open, text.find('"', open) - open);
}

}  // namespace

TEST_F(Export, BodiesInOrderAndVelocitiesStayWithTheirParticles) {
    // The middle body has no velocity channel: its particles get zero
    // velocities, and the third body's velocities stay with their particles.
    Exported e = run({{"first", {{{0.5f, 0.5f, 0.5f}}}},
                      {"second", {{{1.5f, 0.5f, 0.5f}}, {{2.5f, 0.5f, 0.5f}}}, false},
                      {"third", {{{3.5f, 0.5f, 0.5f}}}}});
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_EQ(hexOf(zt::vec3f{{0.5f, 0.5f, 0.5f}}) + hexOf(zt::vec3f{{1.5f, 0.5f, 0.5f}}) +
                  hexOf(zt::vec3f{{2.5f, 0.5f, 0.5f}}) + hexOf(zt::vec3f{{3.5f, 0.5f, 0.5f}}),
              listOf(e.text, "positions"));
    const zt::vec3f zero{{0, 0, 0}};
    EXPECT_EQ(hexOf(testsupport::velocityOf(0)) + hexOf(zero) + hexOf(zero) + hexOf(testsupport::velocityOf(0)),
              listOf(e.text, "velocities"));
    EXPECT_EQ("exported 4 particles\n", e.out.substr(0, e.out.find('\n') + 1));
}

TEST_F(Export, BlocksInLayoutOrderAndParticlesInBlockOrder) {
    // Tiles (0,0,0), (1,0,0), (0,0,0): two blocks, the first holding two.
    Exported e = run({{"b", {{{0.5f, 0.5f, 0.5f}}, {{9.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}}}});
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_EQ(hexOf(zt::vec3f{{0.5f, 0.5f, 0.5f}}) + hexOf(zt::vec3f{{1.5f, 0.5f, 0.5f}}) +
                  hexOf(zt::vec3f{{9.5f, 0.5f, 0.5f}}),
              listOf(e.text, "positions"));
    EXPECT_EQ(hexOf(testsupport::velocityOf(0)) + hexOf(testsupport::velocityOf(2)) + hexOf(testsupport::velocityOf(1)),
              listOf(e.text, "velocities"));
}

TEST_F(Export, BodyWithoutPositionIsSkippedWithItsMessage) {
    Exported e = run({{"nopos", {{{0.5f, 0.5f, 0.5f}}}}, {"ok", {{{1.5f, 0.5f, 0.5f}}}}}, 1.0f, [](Cb::Body& b) {
        if (b.name() == "nopos") b.mutableParticleShape()->removeChannel("position");
    });
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_NE(std::string::npos, e.err.find("No position for this body, skipping")) << e.err;
    EXPECT_EQ(std::string::npos, e.err.find("No position for this body, skipping\n"));
    EXPECT_EQ(hexOf(zt::vec3f{{1.5f, 0.5f, 0.5f}}), listOf(e.text, "positions"));
}

TEST_F(Export, PositionsOfAnotherTypeExportNothing) {
    Exported e = run({{"odd", {{{0.5f, 0.5f, 0.5f}}}}}, 1.0f, [](Cb::Body& b) {
        auto* shape = b.mutableParticleShape();
        shape->removeChannel("velocity");
        shape->setSyncDeferral(1);
        shape->createChannel1f("velocity", 0.0f);
    });
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_EQ(hexOf(zt::vec3f{{0.5f, 0.5f, 0.5f}}), listOf(e.text, "positions"));
    EXPECT_EQ(hexOf(zt::vec3f{{0, 0, 0}}), listOf(e.text, "velocities"));  // a float velocity is not usable
}

TEST_F(Export, CoarseBlocksAreNotExported) {
    Exported e = run({{"c", {{{0.5f, 0.5f, 0.5f}}}}}, 1.0f, [](Cb::Body& b) {
        // A particle parked in the block of a coarse tile (list 1).
        auto* shape = b.mutableParticleShape();
        auto& blocks = shape->positions()->blocks();
        ASSERT_GT(blocks.listCount(1), 1);
        blocks.typedBlock(1, 1)->append({{-4.0f, 0.5f, 0.5f}});
        shape->syncChannels();
    });
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_EQ(hexOf(zt::vec3f{{0.5f, 0.5f, 0.5f}}), listOf(e.text, "positions"));
}

TEST_F(Export, TwentyThousandAndOneParticles) {
    std::vector<zt::vec3f> many;
    for (int i = 0; i < 20001; ++i) many.push_back({{float(i % 7) + 0.5f, float(i % 5) + 0.25f, float(i) * 1e-4f}});
    Exported e = run({{"many", many}}, 2.0f);
    ASSERT_TRUE(e.ok) << e.err;
    EXPECT_EQ("exported 20001 particles\n", e.out.substr(0, e.out.find('\n') + 1));
    EXPECT_EQ(size_t(20001) * 24, listOf(e.text, "positions").size());
    EXPECT_EQ(size_t(20001) * 24, listOf(e.text, "velocities").size());
    EXPECT_EQ(size_t(20001) * 8, listOf(e.text, "ids").size());
}

TEST_F(Export, FailuresAreReportedAndNothingIsWritten) {
    std::remove(dir.file("out.txscene").c_str());
    Exported missing = exportFile(dir.file("none.ztp"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(std::string::npos,
              missing.err.find("Unhandled exception: ZtpReader(" + dir.file("none.ztp") +
                               ") failed: Cannot open file: No such file or directory\n"));
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.txscene")));

    testsupport::ScopedEnv unset("CORIX_PATH", nullptr);
    Exported noRoot = exportFile(dir.file("none.ztp"));
    EXPECT_FALSE(noRoot.ok);
    EXPECT_NE(std::string::npos,
              noRoot.err.find("Unhandled exception: Please set $CORIX_PATH to the Corix root directory.\n"));
}

TEST_F(Export, DamagedBlockDataFailsTheRun) {
    // Positions only, so the file ends with the position blocks' data.
    std::vector<zt::vec3f> many;
    for (int i = 0; i < 3000; ++i) many.push_back({{float(i % 9) + 0.5f, float(i % 4) * 0.25f, float(i) * 1e-3f}});
    Exported ok = run({{"b", many, false}}, 1.0f, [](Cb::Body& b) { b.mutableParticleShape()->removeChannel("density"); });
    ASSERT_TRUE(ok.ok) << ok.err;
    auto bytes = testsupport::readBytes(dir.file("in.ztp"));
    bytes[bytes.size() - 100] ^= 0x5A;
    testsupport::writeFile(dir.file("in.ztp"), bytes);
    std::remove(dir.file("out.txscene").c_str());
    Exported e = exportFile(dir.file("in.ztp"));
    EXPECT_FALSE(e.ok);
    EXPECT_NE(std::string::npos, e.err.find("Unhandled exception: ZTP Decompression Data Error:")) << e.err;
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.txscene")));
}
