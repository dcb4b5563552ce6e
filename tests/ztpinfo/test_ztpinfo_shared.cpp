// The shared converter samples (files of an independent writer, versions 8
// to 16), when they sit beside the checkout: ztpinfo reads each whole, and
// its figures agree with what the converter must print for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>

#include "InfoTestSupport.h"

using infotest::Json;

namespace {

std::string threeDecimals(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", double(float(v)));
    return text;
}

TEST(InfoShared, SamplesReadWholeAndAgreeWithTheConverter) {
    const std::filesystem::path cases = std::filesystem::path(CB_SOURCE_DIR) / ".." / "shared" / "fixtures" / "cases";
    if (!std::filesystem::is_directory(cases)) GTEST_SKIP() << "no shared samples at " << cases;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cases)) {
        if (entry.path().extension() != ".json") continue;
        const Json expected = infotest::parseJson(testsupport::readText(entry.path().string()));
        const auto isText = [](const Json& v) { return std::holds_alternative<std::string>(v.value); };
        if (!isText(expected["ztp"])) continue;  // the usage cases name no file
        const std::string ztp = (cases / expected["ztp"].text()).string();
        if (!std::filesystem::exists(ztp)) continue;
        SCOPED_TRACE(expected["name"].text());
        const infotest::Run run = infotest::runInfo({"--json", "--stats", "--blocks", "--values", ztp});
        const Json file = infotest::parseJson(run.out)[0];
        if (expected["name"].text() == "bad_magic") {
            EXPECT_EQ(run.code, 1);
            EXPECT_EQ(file["error"].text(), "ZtpReader: bad magic in " + ztp);
            continue;
        }
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_TRUE(file["ok"].flag());
        if (!expected["ztp_version"].isNull()) {
            EXPECT_EQ(file["version"].integer(), expected["ztp_version"].integer());
        }
        if (!isText(expected["stdout"])) continue;
        const std::string out = expected["stdout"].text();
        if (expected["exit_code"].integer() != 0 || out.rfind("exported ", 0) != 0) continue;

        // The converter exports the particles of fine blocks (list 0): the
        // global blocks below the fine tile count.
        int64_t exported = 0, all = 0;
        double lo[3], hi[3];
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::numeric_limits<double>::infinity();
            hi[c] = -lo[c];
        }
        for (const Json& body : file["bodies"].array()) {
            for (const Json& shape : body["shapes"].array()) {
                if (shape["name"].text() != "Particle") continue;
                for (const Json& channel : shape["channels"].array()) {
                    if (channel["name"].text() != "position") continue;
                    for (const Json& block : channel["blockList"].array())
                        if (block["block"].integer() < body["layout"]["fineTiles"].integer())
                            exported += block["elements"].integer();
                    all += channel["elements"].integer();
                }
            }
            if (body["particleBox"].isNull()) continue;
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], body["particleBox"]["min"][c].number());
                hi[c] = std::max(hi[c], body["particleBox"]["max"][c].number());
            }
        }
        EXPECT_EQ(out.substr(0, out.find('\n')), "exported " + std::to_string(exported) + " particles");
        // With no particle in coarse blocks the box is the converter's too.
        if (exported == all && exported > 0) {
            const std::string box = "bounding box is (" + threeDecimals(lo[0]) + ", " + threeDecimals(lo[1]) + ", " +
                                    threeDecimals(lo[2]) + "):(" + threeDecimals(hi[0]) + ", " +
                                    threeDecimals(hi[1]) + ", " + threeDecimals(hi[2]) + ")";
            EXPECT_NE(out.find(box + "\n"), std::string::npos) << box << "\n" << out;
        }
        ++checked;
    }
    EXPECT_GT(checked, 5);
}

}  // namespace
