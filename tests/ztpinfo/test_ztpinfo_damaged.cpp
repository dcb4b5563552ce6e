// Damaged copies of caches of several versions: ztpinfo must end every run
// with exit code 0 or 1 and a whole JSON document, never crash or hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "HandMadeCache.h"
#include "InfoTestSupport.h"

namespace {

using InfoDamaged = infotest::LibraryTest;

// As the converter's damaged-sample script: a cut, or a few bytes past the
// header overwritten (random values, flipped bits, runs that make counts and
// sizes absurd).
std::vector<uint8_t> damage(std::vector<uint8_t> data, std::mt19937& rng) {
    auto below = [&rng](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
    const size_t mode = below(4);
    if (mode == 0) {
        data.resize(20 + below(data.size() - 20));
        return data;
    }
    const size_t edits = 1 + below(7);
    for (size_t e = 0; e < edits; ++e) {
        const size_t i = 20 + below(data.size() - 20);
        if (mode == 1) {
            data[i] = uint8_t(below(256));
        } else if (mode == 2) {
            data[i] ^= uint8_t(1u << below(8));
        } else {
            const uint8_t runs[4] = {0xFF, 0x7F, 0x80, 0x00};
            const uint8_t v = runs[below(4)];
            for (size_t k = 0; k < 4 && i + k < data.size(); ++k) data[i + k] = v;
        }
    }
    return data;
}

TEST_F(InfoDamaged, EveryDamagedCopyEndsInZeroOrOneWithAWholeDocument) {
    std::vector<std::vector<uint8_t>> sources;
    for (const int32_t version : {8, 13, 16}) {
        infotest::HandMadeCache cache;
        cache.version = version;
        std::vector<zt::vec3f> many;
        for (int i = 0; i < 30; ++i) many.push_back({{0.03f * float(i), 0.5f, 0.5f}});
        cache.blocks = {{{{0, 0, 0}}, many, true}, {{{1, 0, 0}}, {{{1.5f, 0.5f, 0.5f}}}, false}};
        sources.push_back(cache.bytes());
    }
    const infotest::Run made = infotest::runProgram(
        CB_SAMPLE_PATH, {file("sample.ztp"), "300"},
        std::string("CORIX_PATH=") + infotest::shellQuoted(CB_SOURCE_DIR "/share/corix") + " ");
    ASSERT_EQ(made.code, 0) << made.err;
    sources.push_back(testsupport::readBytes(file("sample.ztp")));

    std::mt19937 rng(20261206);
    const std::string path = file("damaged.ztp");
    for (int run = 0; run < 80; ++run) {
        const size_t source = size_t(run) % sources.size();
        testsupport::writeFile(path, damage(sources[source], rng));
        const infotest::Run info = infotest::runInfo({"--json", "--stats", "--blocks", "--values", path});
        SCOPED_TRACE(::testing::Message() << "run " << run << ", source " << source << "\n" << info.err);
        ASSERT_TRUE(info.code == 0 || info.code == 1);
        infotest::Json document;
        ASSERT_NO_THROW(document = infotest::parseJson(info.out)) << info.out;
        EXPECT_EQ(document[0]["ok"].flag(), info.code == 0);
        // A copy not read whole says why on standard error.
        EXPECT_EQ(info.err.find("ztpinfo: " + path + ": ") != std::string::npos, info.code == 1);
    }
}

}  // namespace
