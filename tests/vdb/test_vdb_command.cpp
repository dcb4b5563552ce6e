// The program around the conversion: several bodies and the selections,
// the summary, damaged caches and failures that leave no output, the
// arguments, and the grid-by-grid file writer.
#include <sys/wait.h>

#include <cstdlib>

#include "ParticleBodies.h"
#include "VdbFile.h"
#include "VdbTestSupport.h"
#include "cb/Version.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

using namespace vdbtest;

namespace {

std::unique_ptr<Cb::Body> mistBody() {
    auto body = std::make_unique<Cb::Body>("Mist");
    body->setSignatureName("Field-Smoke");
    zt::tile_layout3& layout = body->mutableLayout();
    layout.reset(0.5f, 2);
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);
    auto* shape = static_cast<Cb::FieldShape*>(body->addShape(new Cb::FieldShape(false)));
    shape->createChannel1f("density", 0.0f);
    shape->updateLayout(layout);
    auto& density = shape->mutableChannelAs<Cb::FieldChannel1f>("density")->field();
    density.at(0) = 0.5f;
    density.at(5) = 0.25f;
    return body;
}

class VdbCommand : public VdbTest {
protected:
    // Pool (3 particles), Spray (1), Mist (a field with two voxels set).
    std::vector<int64_t> writeScene(bool compress = true) {
        Library library;
        auto pool = testsupport::makeParticleBody({"Pool", {{{0.5f, 0.5f, 0.5f}}, {{9.5f, 1, 1}}, {{-3, 2, 2}}}});
        auto spray = testsupport::makeParticleBody({"Spray", {{{4.5f, 0.5f, 0.5f}}}});
        auto mist = mistBody();
        return testsupport::writeBodies(ztp, {pool.get(), spray.get(), mist.get()}, compress);
    }
};

}  // namespace

TEST_F(VdbCommand, SeveralBodiesBecomeGridsInFileOrderWithASummary) {
    writeScene();
    ProgramRun run = runProgram({ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("ztp2vdb: wrote " + vdb +
                  "\n"
                  "  Pool/points   points            3 points\n"
                  "  Spray/points  points            1 points\n"
                  "  Mist/density  float             2 active voxels\n"
                  "  3 grids, 2 active voxels, 4 points\n",
              run.out);
    EXPECT_EQ((std::vector<std::string>{"Mist/density", "Pool/points", "Spray/points"}), VdbFile(vdb).names);
    EXPECT_NE(std::string::npos, run.err.find("Corix: Reading ZTP: " + ztp + "\n")) << run.err;

    run = runProgram({"--bodies", "P*, Mi?t", "--no-fields", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(std::vector<std::string>{"Pool/points"}, VdbFile(vdb).names);
    run = runProgram({"--bodies", "Mist", "--bodies", "Spray", "--no-points", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(std::vector<std::string>{"Mist/density"}, VdbFile(vdb).names);
    EXPECT_EQ(std::string::npos, run.err.find("warning")) << run.err;
    // Names that pick nothing are worth a word, not a failure.
    run = runProgram({"--bodies", "Mist,Fog*", "--channels", "density,densty,id64", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(run.err.ends_with("ztp2vdb: warning: no body matches 'Fog*'\n"
                                  "ztp2vdb: warning: no converted body has a channel 'densty'\n"
                                  "ztp2vdb: warning: no converted body has a channel 'id64'\n"))
        << run.err;
    EXPECT_EQ("  1 grid, 2 active voxels, 0 points\n", run.out.substr(run.out.rfind("  1 grid")));
}

TEST_F(VdbCommand, DamagedCachesFailAndLeaveNoOutput) {
    const std::vector<int64_t> offsets = writeScene();
    std::vector<uint8_t> bytes = testsupport::readBytes(ztp);
    testsupport::writeFile(vdb, "old");

    // A damaged record ends the reading: nothing is written unless asked.
    bytes.resize(size_t(offsets[2]) + 30);
    testsupport::writeFile(ztp, bytes);
    ProgramRun run = runProgram({ztp, vdb});
    EXPECT_EQ(1, run.code);
    EXPECT_NE(std::string::npos, run.err.find("Corix ** WARNING ** : Corrupt ZTP: ")) << run.err;
    EXPECT_TRUE(run.err.ends_with("ztp2vdb: a damaged body record ends " + ztp +
                                  " after 2 bodies: nothing written (--partial converts the bodies read before it)\n"))
        << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("old", testsupport::readText(vdb));
    run = runProgram({"--partial", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ((std::vector<std::string>{"Pool/points", "Spray/points"}), VdbFile(vdb).names);

    // Damaged particle data fail when they are loaded, part-way through writing.
    testsupport::writeFile(vdb, "old");
    {
        Library library;
        std::vector<zt::vec3f> many;
        for (int i = 0; i < 200; ++i) many.push_back({{0.5f + float(i % 8), 0.5f + float(i / 8 % 8), 0.5f}});
        auto pool = testsupport::makeParticleBody({"Pool", many});
        auto mist = mistBody();
        testsupport::writeBodies(ztp, {mist.get(), pool.get()});
    }
    zt::stored_block block;
    {
        const ZtpFile source(ztp);
        const auto* density = source.body("Pool").particleShape()->channelAs<Cb::ParticleChannelBase>("density");
        ASSERT_TRUE(density->rawStorage().storedBlockInfo(0, block));
        ASSERT_TRUE(block.compressed);
    }
    bytes = testsupport::readBytes(ztp);
    for (int64_t i = 0; i < 4; ++i) bytes[size_t(block.fileOffset + block.storedBytes / 2 + i)] ^= 0x5A;
    testsupport::writeFile(ztp, bytes);
    run = runProgram({ztp, vdb});
    EXPECT_EQ(1, run.code);
    // Mist's grid was out already: the temporary file goes, the old output stays.
    EXPECT_NE(std::string::npos, run.err.find("Unhandled exception: ZTP Decompression Data Error: ")) << run.err;
    EXPECT_EQ("", run.out);
    EXPECT_EQ("old", testsupport::readText(vdb));
    EXPECT_EQ((std::vector<std::string>{"in.ztp", "out.vdb"}), folder());
}

TEST_F(VdbCommand, ArgumentsAndOutputsThatCannotBeWritten) {
    writeScene();
    const std::string usage = vdbUsage();
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out, err;
    } cases[] = {
        {{}, 1, "", "ztp2vdb: expected INPUT.ztp and OUTPUT.vdb, got 0 file names\n" + usage},
        {{ztp}, 1, "", "ztp2vdb: expected INPUT.ztp and OUTPUT.vdb, got 1 file name\n" + usage},
        {{"--fast", ztp, vdb}, 1, "", "ztp2vdb: unknown option '--fast'\n" + usage},
        {{ztp, vdb, "--channels"}, 1, "", "ztp2vdb: --channels needs a value\n" + usage},
        {{"--bodies", ",", ztp, vdb}, 1, "", "ztp2vdb: --bodies needs at least one name\n" + usage},
        {{"--help"}, 0, usage, ""},
        {{"--version", ztp}, 0, "ztp2vdb " CB_VERSION_STRING " (OpenVDB " OPENVDB_LIBRARY_VERSION_STRING ")\n", ""},
    };
    for (const auto& c : cases) {
        const ProgramRun run = runProgram(c.args);
        EXPECT_EQ(c.code, run.code);
        EXPECT_EQ(c.out, run.out);
        EXPECT_EQ(c.err, run.err);
    }
    EXPECT_NE(std::string::npos, usage.find("  --fine-only "));

    const struct {
        std::vector<std::string> args;
        std::string err;
    } failures[] = {
        {{dir.file("none.ztp"), vdb},
         "Unhandled exception: ZtpReader(" + dir.file("none.ztp") +
             ") failed: Cannot open file: No such file or directory\n"},
        {{ztp, dir.file("no/out.vdb")},
         "Unhandled exception: Cannot create a file beside " + dir.file("no/out.vdb") + ": No such file or directory\n"},
        {{ztp, ztp}, "Unhandled exception: The output " + ztp + " is the input file\n"},
    };
    for (const auto& f : failures) {
        const ProgramRun run = runProgram(f.args);
        EXPECT_EQ(1, run.code);
        EXPECT_TRUE(run.err.ends_with(f.err)) << run.err;
        EXPECT_EQ("", run.out);
    }
    EXPECT_EQ(std::vector<std::string>{"in.ztp"}, folder());
    {
        testsupport::ScopedEnv unset("CORIX_PATH", nullptr);
        const ProgramRun run = runProgram({ztp, vdb});
        EXPECT_EQ(1, run.code);
        EXPECT_EQ("Unhandled exception: Please set $CORIX_PATH to the Corix root directory.\n", run.err);
    }
    // The program itself, for its exit codes.
    const auto exitCode = [](const std::string& args) {
        const int status = std::system((std::string(CB_ZTP2VDB_PATH) + " " + args + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(0, exitCode(ztp + " " + vdb));
    EXPECT_TRUE(testsupport::fileExists(vdb));
    EXPECT_EQ(1, exitCode(dir.file("none.ztp") + " " + dir.file("x.vdb")));
    EXPECT_EQ(1, exitCode("--what"));
}

TEST(VdbOptions, GlobsMatchWholeNames) {
    const struct {
        const char* glob;
        const char* name;
        bool match;
    } cases[] = {
        {"Pool", "Pool", true}, {"Pool", "Pool2", false}, {"P*", "Pool", true},       {"*l", "Pool", true},
        {"*o*", "Pool", true},  {"P?ol", "Pool", true},   {"P?l", "Pool", false},     {"*", "", true},
        {"", "", true},         {"", "a", false},         {"a*b*c", "axxbyyc", true}, {"a*b*c", "axxbyy", false},
        {"*ab", "aab", true},   {"**", "x", true},        {"?", "", false},           {"a*", "b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.match, globMatches(c.glob, c.name)) << c.glob << " " << c.name;
}

TEST_F(VdbTest, TheWriterSuffixesRepeatedNamesAndLeavesNothingUncommitted) {
    openvdb::initialize();
    openvdb::MetaMap meta;
    meta.insertMeta("note", openvdb::StringMetadata("x"));
    {
        VdbFileWriter writer(vdb, meta);
        const std::string temporary = std::filesystem::path(writer.temporaryPath()).filename();
        EXPECT_EQ(0u, temporary.find(".out.vdb."));
        EXPECT_EQ(std::vector<std::string>{temporary}, folder());
        for (const float value : {1.0f, 2.0f}) {
            openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(value);
            grid->setName("a");
            writer.write(grid);
        }
        EXPECT_EQ(2, writer.gridCount());
        writer.commit();
    }
    EXPECT_EQ(std::vector<std::string>{"out.vdb"}, folder());
    openvdb::io::File file(vdb);
    file.open();
    EXPECT_EQ("x", file.getMetadata()->metaValue<std::string>("note"));
    EXPECT_EQ(1.0f, openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("a"))->background());
    EXPECT_EQ(2.0f, openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("a[1]"))->background());
    file.close();
    {
        VdbFileWriter writer(dir.file("other.vdb"), meta);
        writer.write(openvdb::FloatGrid::create());
    }
    EXPECT_EQ(std::vector<std::string>{"out.vdb"}, folder());
}
