// Written files through the converter: the exported particles are those of
// the bodies written, and every sample file read and written again by the
// library converts to exactly the same scene as the original.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>

#include "CaptureOutput.h"
#include "ExportParticles.h"
#include "RichBody.h"
#include "SceneWriter.h"
#include "WriterTestSupport.h"
#include "cb/model/ParticleShape.h"

using namespace Cb;

namespace {

struct Converted {
    bool ok = false;
    std::string out, err, scene;
};

Converted convert(const std::string& input, const std::string& output) {
    std::remove(output.c_str());
    Converted c;
    {
        testsupport::CaptureStderr err;
        testsupport::CaptureStdout out;
        c.ok = exportParticles(input.c_str(), output.c_str(), "particles", 0.1f, 24.0f, 1.0f);
        c.out = out.finish();
        c.err = err.finish();
    }
    if (testsupport::fileExists(output)) c.scene = testsupport::readText(output);
    return c;
}

std::string hexList(const std::vector<zt::vec3f>& values, float scale) {
    std::string text;
    char word[9];
    for (const zt::vec3f& v : values)
        for (int a = 0; a < 3; ++a) {
            hexWord(v[a] * scale, word);
            text += word;
        }
    return text;
}

// The quoted contents of a list line of the scene.
std::string listOf(const std::string& scene, const std::string& list) {
    const size_t at = scene.find("  " + list + "=");
    if (at == std::string::npos) return "<no " + list + ">";
    const size_t open = scene.find('"', at) + 1;
    return scene.substr(open, scene.find('"', open) - open);
}

std::vector<std::string> sampleFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ztp") == 0) names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ConvertWritten : public writertest::WriterTest {};

}  // namespace

TEST_F(ConvertWritten, ExportsTheFineParticlesOfEveryBodyInOrder) {
    auto rich = writertest::makeRichBody("rich");
    auto plain = writertest::makeParticleOnlyBody("plain");
    std::vector<zt::vec3f> positions = writertest::finePositions(*rich);
    std::vector<zt::vec3f> velocities = writertest::fineVelocities(*rich);
    for (const auto& p : writertest::finePositions(*plain)) positions.push_back(p);
    for (const auto& v : writertest::fineVelocities(*plain)) velocities.push_back(v);
    ASSERT_GT(positions.size(), 300u);
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "uncompressed");
        write(file("in.ztp"), {rich.get(), plain.get()}, "*.*", compress);
        Converted c = convert(file("in.ztp"), file("out.txscene"));
        ASSERT_TRUE(c.ok) << c.err;
        EXPECT_EQ("exported " + std::to_string(positions.size()) + " particles\n",
                  c.out.substr(0, c.out.find('\n') + 1));
        EXPECT_EQ(hexList(positions, 1.0f), listOf(c.scene, "positions"));
        EXPECT_EQ(hexList(velocities, 1.0f / 24.0f), listOf(c.scene, "velocities"));
    }
}

TEST_F(ConvertWritten, PositionOnlySelectionExportsZeroVelocities) {
    auto body = writertest::makeParticleOnlyBody("p");
    write(file("pos.ztp"), {body.get()}, "Particle.position");
    Converted c = convert(file("pos.ztp"), file("out.txscene"));
    ASSERT_TRUE(c.ok) << c.err;
    const std::vector<zt::vec3f> positions = writertest::finePositions(*body);
    EXPECT_EQ(hexList(positions, 1.0f), listOf(c.scene, "positions"));
    EXPECT_EQ(hexList(std::vector<zt::vec3f>(positions.size(), zt::vec3f{{0, 0, 0}}), 1.0f),
              listOf(c.scene, "velocities"));
}

TEST_F(ConvertWritten, SampleFilesRewrittenConvertIdentically) {
    const std::string folder = std::string(CB_SOURCE_DIR) + "/../shared/fixtures/cases";
    const std::vector<std::string> samples = sampleFiles(folder);
    if (samples.empty()) GTEST_SKIP() << "no sample files in " << folder;
    int rewritten = 0;
    for (const std::string& name : samples) {
        SCOPED_TRACE(name);
        const std::string input = folder + "/" + name;
        const Converted original = convert(input, file("original.txscene"));
        if (!original.ok) {
            // A file the converter refuses is one the reader refuses too.
            testsupport::CaptureStderr quiet;
            EXPECT_ANY_THROW({ ZtpReader refused(input, "*", "Body"); });
            continue;
        }
        std::unique_ptr<ZtpReader> reader = read(input);
        std::vector<Body*> bodies;
        for (int i = 0; i < reader->bodyCount(); ++i) bodies.push_back(reader->storedBody(i));
        for (bool compress : {true, false}) {
            SCOPED_TRACE(compress ? "compressed" : "uncompressed");
            const std::string copy = file(compress ? "packed.ztp" : "plain.ztp");
            write(copy, bodies, "*.*", compress);
            const Converted again = convert(copy, file("again.txscene"));
            ASSERT_TRUE(again.ok) << again.err;
            EXPECT_EQ(original.out, again.out);
            EXPECT_TRUE(original.scene == again.scene) << "scenes differ";
            auto back = read(copy);
            ASSERT_EQ(reader->bodyCount(), back->bodyCount());
            for (int i = 0; i < back->bodyCount(); ++i) writertest::expectSameBody(*bodies[size_t(i)], *back->storedBody(i));
            ++rewritten;
        }
    }
    EXPECT_GT(rewritten, 0);
    RecordProperty("rewritten", rewritten);
}
