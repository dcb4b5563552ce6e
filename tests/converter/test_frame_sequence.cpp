// Frame sequences: file-name patterns and frame ranges, whole runs through
// the command line (each frame's output byte for byte the single conversion
// of that file with that frame number, the frame lines, the summary, exit
// codes, missing and failing frames with and without --keep-going, several
// frames at once), conversions on many threads at once in one started
// library, the progress line, and the built program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "CaptureOutput.h"
#include "ConverterCall.h"
#include "ExportParticles.h"
#include "FrameSequence.h"
#include "LibrarySession.h"
#include "MessageOf.h"
#include "ParticleBodies.h"
#include "TempPath.h"
#include "cb/Log.h"
#include "cb/model/ParticleShape.h"

namespace {

using testsupport::messageOf;

TEST(FramePattern, HashRunsAndPrintfConversionsPadAsPrintfDoes) {
    const FramePattern hashes = FramePattern::parse("shot/fluid.####.ztp");
    EXPECT_EQ("shot/fluid.0007.ztp", hashes.name(7));
    EXPECT_EQ("shot/fluid.0000.ztp", hashes.name(0));
    // The sign takes one of the places; a wider number is written whole.
    EXPECT_EQ("shot/fluid.-007.ztp", hashes.name(-7));
    EXPECT_EQ("shot/fluid.-1234.ztp", hashes.name(-1234));
    EXPECT_EQ("shot/fluid.123456.ztp", hashes.name(123456));
    EXPECT_EQ("f7.ztp", FramePattern::parse("f#.ztp").name(7));
    EXPECT_EQ("f2147483647.ztp", FramePattern::parse("f#.ztp").name(2147483647));

    const FramePattern printf4 = FramePattern::parse("out.%04d.txscene");
    char expected[64];
    for (int frame : {0, 7, -7, 12345, -12345}) {
        std::snprintf(expected, sizeof expected, "out.%04d.txscene", frame);
        EXPECT_EQ(expected, printf4.name(frame));
    }
    EXPECT_EQ("f-3.ztp", FramePattern::parse("f%d.ztp").name(-3));
    EXPECT_EQ("f0000000012.ztp", FramePattern::parse("f%010d.ztp").name(12));
    // With a conversion, "%%" is one percent sign and '#' is itself; without
    // one, '%' is itself.
    EXPECT_EQ("100%/#1/f.012", FramePattern::parse("100%%/#1/f.%03d").name(12));
    EXPECT_EQ("100%.012", FramePattern::parse("100%.###").name(12));
    EXPECT_EQ("a%%b.12", FramePattern::parse("a%%b.##").name(12));
}

TEST(FramePattern, PatternsWithoutOneFrameNumberAreRefused) {
    EXPECT_EQ("no frame number in 'fluid.ztp': mark it with a run of # or with %0Nd",
              messageOf([] { FramePattern::parse("fluid.ztp"); }));
    EXPECT_EQ("no frame number in '': mark it with a run of # or with %0Nd",
              messageOf([] { FramePattern::parse(""); }));
    EXPECT_EQ("more than one run of # in 'a##/b##.ztp': use %0Nd for the frame number",
              messageOf([] { FramePattern::parse("a##/b##.ztp"); }));
    EXPECT_EQ("more than one frame number (%d or %0Nd) in 'a%d.%04d'",
              messageOf([] { FramePattern::parse("a%d.%04d"); }));
    for (const char* bad : {"a%4d.%04d", "a%s.%04d", "100%.%04d", "%04d%", "%04d.%0d", "%04d.%00d"})
        EXPECT_EQ(std::string("a '%' in '") + bad +
                      "' is not the frame number (%d, or %0Nd with N from 1 to 64): write a percent sign as %%",
                  messageOf([&] { FramePattern::parse(bad); }))
            << bad;
    // No conversion at all, only strays: the '#' reading, which finds none.
    EXPECT_EQ("no frame number in 'f%4d.ztp': mark it with a run of # or with %0Nd",
              messageOf([] { FramePattern::parse("f%4d.ztp"); }));
    EXPECT_EQ("(no failure)", messageOf([] { FramePattern::parse("f%064d"); }));
    EXPECT_NE("(no failure)", messageOf([] { FramePattern::parse("f%065d"); }));
    EXPECT_NE("(no failure)", messageOf([] { FramePattern::parse("f%099999999999999999999d"); }));
    EXPECT_EQ("the run of # in 'f" + std::string(65, '#') + "' is wider than 64",
              messageOf([] { FramePattern::parse("f" + std::string(65, '#')); }));
}

TEST(FrameRange, FirstLastAndStepIncludingNegativeFrames) {
    auto frames = [](const std::string& text) {
        const FrameRange r = FrameRange::parse(text);
        std::vector<int64_t> all;
        for (int64_t k = 0; k < r.count(); ++k) all.push_back(r.frame(k));
        return all;
    };
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3}), frames("1-3"));
    EXPECT_EQ((std::vector<int64_t>{7}), frames("7-7"));
    EXPECT_EQ((std::vector<int64_t>{1, 4, 7}), frames("1-9:3"));
    EXPECT_EQ((std::vector<int64_t>{1, 4, 7, 10}), frames("1-10:3"));
    EXPECT_EQ((std::vector<int64_t>{-5, -3, -1}), frames("-5--1:2"));
    EXPECT_EQ((std::vector<int64_t>{-1, 0, 1}), frames("-1-1"));
    EXPECT_EQ((std::vector<int64_t>{5}), frames("5-9:100"));
    const FrameRange widest = FrameRange::parse("-2147483648-2147483647");
    EXPECT_EQ(int64_t(1) << 32, widest.count());
    EXPECT_EQ(2147483647, widest.frame(widest.count() - 1));
}

TEST(FrameRange, BackwardsZeroStepsAndUnparsableNumbersAreRefused) {
    EXPECT_EQ("The frame range 10-1 runs backwards: FIRST must not exceed LAST",
              messageOf([] { FrameRange::parse("10-1"); }));
    EXPECT_EQ("The frame range -1--2 runs backwards: FIRST must not exceed LAST",
              messageOf([] { FrameRange::parse("-1--2"); }));
    EXPECT_EQ("The frame step of 1-10:0 must be at least 1", messageOf([] { FrameRange::parse("1-10:0"); }));
    EXPECT_EQ("The frame step of 1-10:-2 must be at least 1", messageOf([] { FrameRange::parse("1-10:-2"); }));
    for (const char* bad : {"", "5", "-5", "1-", "-1-", "1-5:", "a-5", "1-b", "1-5:x", "1--", "1-5-", "1 -5", "1-5 ",
                            "+1-5", "1.5-3", "1-2147483648", "-2147483649-0", "1-5:2147483648", "1:2-5", "0x1-5"})
        EXPECT_EQ(std::string("Can't parse the frame range (") + bad + "): FIRST-LAST[:STEP] expected",
                  messageOf([&] { FrameRange::parse(bad); }))
            << bad;
}

using Call = testsupport::ConverterCall;

Call run(std::vector<std::string> args) { return testsupport::callConverter(std::move(args)); }

// The summary line with its time replaced by T.
std::string untimed(const std::string& summary) {
    return std::regex_replace(summary, std::regex(" in [0-9]+\\.[0-9][0-9] s\n$"), " in T s\n");
}

class FrameSequence : public ::testing::Test {
protected:
    // A cache for `frame`: its own particle count and positions.
    std::string cache(int frame, const std::string& name) {
        std::vector<zt::vec3f> positions;
        for (int i = 0; i < 40 + 13 * frame; ++i)
            positions.push_back({{float(i % 23) * 0.7f + 0.1f * float(frame), float(i % 5) * 1.3f, float(i) * 0.05f}});
        testsupport::writeParticleFile(dir.file(name), {{"pool", positions}, {"drop", {{{0.5f, 9.5f, float(frame)}}}}});
        return dir.file(name);
    }
    // The six-argument form's output for the same file and frame.
    std::string single(const std::string& input, int frame) {
        const std::string path = dir.file("reference.txscene");
        testsupport::CaptureStderr err;
        EXPECT_TRUE(exportParticles(ExportRequest{input, path, "p", 0.05f, 24.0f, float(frame), false}));
        std::string text = testsupport::readText(path);
        std::remove(path.c_str());
        return text;
    }
    std::string at(const std::string& name) const { return dir.file(name); }
    std::string line(int frame, const std::string& in, const std::string& out, int particles) const {
        return "frame " + std::to_string(frame) + ": " + at(in) + " -> " + at(out) + ": " + std::to_string(particles) +
               " particles\n";
    }
    static int particlesOf(int frame) { return 40 + 13 * frame + 1; }
    std::vector<std::string> outputs() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().extension() == ".txscene") names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", CB_SOURCE_DIR "/share/corix"};
};

TEST_F(FrameSequence, HashPatternWithAStepWritesWhatTheSingleFormWrites) {
    std::map<int, std::string> expected;
    for (int f = 1; f <= 5; ++f) expected[f] = single(cache(f, "in." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".ztp"), f);
    const Call c = run({"--frames", "1-5:2", at("in.####.ztp"), at("out.%04d.txscene"), "p", "0.05", "24"});
    EXPECT_EQ(0, c.code);
    // No parameter echo, no information lines: a line per frame.
    EXPECT_EQ(line(1, "in.0001.ztp", "out.0001.txscene", particlesOf(1)) +
                  line(3, "in.0003.ztp", "out.0003.txscene", particlesOf(3)) +
                  line(5, "in.0005.ztp", "out.0005.txscene", particlesOf(5)),
              c.err);
    EXPECT_EQ("converted 3 of 3 frames: 0 failed, 0 skipped, 0 not started; " +
                  std::to_string(particlesOf(1) + particlesOf(3) + particlesOf(5)) + " particles in T s\n",
              untimed(c.out));
    EXPECT_EQ((std::vector<std::string>{"out.0001.txscene", "out.0003.txscene", "out.0005.txscene"}), outputs());
    for (int f : {1, 3, 5}) EXPECT_EQ(expected[f], testsupport::readText(at("out.000" + std::to_string(f) + ".txscene")));
}

TEST_F(FrameSequence, NegativeFramesAndPrintfPatternsKeyEachFrameAtItsNumber) {
    const std::string minus = single(cache(-2, "in.-02.ztp"), -2), zero = single(cache(0, "in.000.ztp"), 0);
    const Call c = run({"--quiet", "--frames=-2-0:2", "--jobs=2", at("in.%03d.ztp"), at("out.###.txscene"), "p",
                        "0.05", "24"});
    EXPECT_EQ(0, c.code) << c.err;
    EXPECT_EQ(line(-2, "in.-02.ztp", "out.-02.txscene", particlesOf(-2)) +
                  line(0, "in.000.ztp", "out.000.txscene", particlesOf(0)),
              c.err);
    EXPECT_EQ(minus, testsupport::readText(at("out.-02.txscene")));
    EXPECT_EQ(zero, testsupport::readText(at("out.000.txscene")));
    EXPECT_NE(std::string::npos, minus.find("positions=interpolate((-2.000000, ListVectorHex(\""));
}

TEST_F(FrameSequence, AMissingFrameStopsTheRunUnlessKeepGoingSkipsIt) {
    for (int f : {1, 2, 4, 5}) cache(f, "in.000" + std::to_string(f) + ".ztp");
    const std::vector<std::string> tail = {at("in.####.ztp"), at("out.####.txscene"), "p", "0.05", "24"};
    auto args = [&](std::vector<std::string> options) {
        options.insert(options.end(), tail.begin(), tail.end());
        return options;
    };

    const Call stopped = run(args({"--frames", "1-5"}));
    EXPECT_EQ(1, stopped.code);
    EXPECT_EQ(line(1, "in.0001.ztp", "out.0001.txscene", particlesOf(1)) +
                  line(2, "in.0002.ztp", "out.0002.txscene", particlesOf(2)) + "frame 3: " + at("in.0003.ztp") +
                  ": failed: missing\n",
              stopped.err);
    EXPECT_EQ("converted 2 of 5 frames: 1 failed, 0 skipped, 2 not started; " +
                  std::to_string(particlesOf(1) + particlesOf(2)) + " particles in T s\n",
              untimed(stopped.out));
    EXPECT_EQ((std::vector<std::string>{"out.0001.txscene", "out.0002.txscene"}), outputs());

    const Call kept = run(args({"--frames", "1-5", "--keep-going"}));
    EXPECT_EQ(1, kept.code);
    EXPECT_NE(std::string::npos, kept.err.find("frame 3: " + at("in.0003.ztp") + ": failed: missing\nframe 4: "));
    EXPECT_EQ("converted 4 of 5 frames: 0 failed, 1 skipped, 0 not started; " +
                  std::to_string(particlesOf(1) + particlesOf(2) + particlesOf(4) + particlesOf(5)) +
                  " particles in T s\n",
              untimed(kept.out));
    EXPECT_EQ((std::vector<std::string>{"out.0001.txscene", "out.0002.txscene", "out.0004.txscene",
                                        "out.0005.txscene"}),
              outputs());
}

TEST_F(FrameSequence, AFailingFrameGivesItsReasonAndLeavesItsOutputAlone) {
    for (int f : {1, 3}) cache(f, "in.0" + std::to_string(f) + ".ztp");
    testsupport::writeFile(at("in.02.ztp"), std::string("not a cache at all"));
    testsupport::writeFile(at("out.02.txscene"), std::string("last week's"));
    const std::vector<std::string> tail = {at("in.##.ztp"), at("out.##.txscene"), "p", "0.05", "24"};

    const std::string failed =
        "frame 2: " + at("in.02.ztp") + ": failed: Unhandled exception: ZtpReader: bad magic in " + at("in.02.ztp") + "\n";
    Call c = run({"--frames", "1-3", tail[0], tail[1], tail[2], tail[3], tail[4]});
    EXPECT_EQ(1, c.code);
    EXPECT_EQ(line(1, "in.01.ztp", "out.01.txscene", particlesOf(1)) + failed, c.err);
    EXPECT_EQ("converted 1 of 3 frames: 1 failed, 0 skipped, 1 not started; " + std::to_string(particlesOf(1)) +
                  " particles in T s\n",
              untimed(c.out));
    EXPECT_EQ("last week's", testsupport::readText(at("out.02.txscene")));
    EXPECT_FALSE(testsupport::fileExists(at("out.03.txscene")));

    c = run({"--keep-going", "--frames", "1-3", tail[0], tail[1], tail[2], tail[3], tail[4]});
    EXPECT_EQ(1, c.code);
    EXPECT_EQ(line(1, "in.01.ztp", "out.01.txscene", particlesOf(1)) + failed +
                  line(3, "in.03.ztp", "out.03.txscene", particlesOf(3)),
              c.err);
    EXPECT_EQ("converted 2 of 3 frames: 1 failed, 0 skipped, 0 not started; " +
                  std::to_string(particlesOf(1) + particlesOf(3)) + " particles in T s\n",
              untimed(c.out));
    EXPECT_EQ("last week's", testsupport::readText(at("out.02.txscene")));
    // No temporary file stays behind.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.path().filename().c_str()[0] == '.';
    EXPECT_EQ(0u, files);
}

TEST_F(FrameSequence, WarningsCarryTheirFrameAndTheReaderSaysNothingElse) {
    cache(1, "in.1.ztp");
    // Frame 2: the second body's record cut short; the first still converts.
    {
        std::vector<zt::vec3f> positions(30, zt::vec3f{{1.5f, 2.5f, 3.5f}});
        testsupport::writeParticleFile(at("whole.ztp"), {{"kept", positions}, {"cut", positions}});
        std::vector<uint8_t> bytes = testsupport::readBytes(at("whole.ztp"));
        bytes.resize(bytes.size() - 40);
        testsupport::writeFile(at("in.2.ztp"), bytes);
    }
    // Frame 3: a body without positions.
    testsupport::writeParticleFile(at("in.3.ztp"), {{"nopos", {{{4.5f, 0.5f, 0.5f}}}}, {"pool", {{{0.5f, 0.5f, 0.5f}}}}},
                                   [](Cb::Body& b) {
                                       if (b.name() == "nopos") b.mutableParticleShape()->removeChannel("position");
                                   });
    std::string singleErr;
    {
        testsupport::CaptureStderr err;
        ExportSummary summary;
        exportParticles(ExportRequest{at("in.2.ztp"), at("x.txscene"), "p", 0.05f, 24.0f, 2.0f, false}, &summary);
        singleErr = err.finish();
    }
    const std::string warning = singleErr.substr(singleErr.find("Corix ** WARNING ** : Corrupt ZTP: "));
    ASSERT_FALSE(warning.empty());

    const Call c = run({"--frames", "1-3", at("in.#.ztp"), at("out.#.txscene"), "p", "0.05", "24"});
    EXPECT_EQ(0, c.code);
    EXPECT_EQ(line(1, "in.1.ztp", "out.1.txscene", particlesOf(1)) + "frame 2: " + warning +
                  line(2, "in.2.ztp", "out.2.txscene", 30) + "frame 3: No position for this body, skipping\n" +
                  line(3, "in.3.ztp", "out.3.txscene", 1),
              c.err);
    EXPECT_EQ(std::string::npos, c.err.find("Corix: ")) << c.err;
    // The library's verbosity is the caller's again afterwards.
    EXPECT_EQ("NORMAL", Cb::verbosity);
}

TEST_F(FrameSequence, SeveralFramesAtOnceWriteEachFrameAsASingleConversion) {
    std::map<int, std::string> expected;
    for (int f = 1; f <= 7; ++f) {
        const std::string name = "in.000" + std::to_string(f) + ".ztp";
        if (f == 4)
            testsupport::writeFile(at(name), std::string("ZTP?"));
        else
            expected[f] = single(cache(f, name), f);
    }
    for (const char* jobs : {"2", "3"}) {
        for (const std::string& name : outputs()) std::filesystem::remove(at(name));
        const Call c = run({"--frames", "1-7", "--jobs", jobs, "--keep-going", at("in.####.ztp"), at("out.####.txscene"),
                            "p", "0.05", "24"});
        EXPECT_EQ(1, c.code);
        std::string lines;
        int64_t particles = 0;
        for (int f = 1; f <= 7; ++f) {
            const std::string out = "out.000" + std::to_string(f) + ".txscene";
            if (f == 4) {
                lines += "frame 4: " + at("in.0004.ztp") + ": failed: Unhandled exception: ";
                EXPECT_FALSE(testsupport::fileExists(at(out)));
                continue;
            }
            lines += line(f, "in.000" + std::to_string(f) + ".ztp", out, particlesOf(f));
            particles += particlesOf(f);
            EXPECT_EQ(expected[f], testsupport::readText(at(out))) << "frame " << f << " with --jobs " << jobs;
        }
        // In frame order whatever order the frames finished in.
        const size_t failure = c.err.find("frame 4: ");
        ASSERT_NE(std::string::npos, failure) << c.err;
        const size_t end = c.err.find('\n', failure);
        EXPECT_EQ(lines, c.err.substr(0, c.err.find("Unhandled exception: ", failure) + 21) +
                             c.err.substr(end + 1))
            << c.err;
        EXPECT_EQ("converted 6 of 7 frames: 1 failed, 0 skipped, 0 not started; " + std::to_string(particles) +
                      " particles in T s\n",
                  untimed(c.out));
    }
}

// Conversions of different files on several threads of one started library:
// each output, summary, failure and warning the same as its own conversion.
TEST_F(FrameSequence, ConversionsOnManyThreadsAtOnceMatchSingleConversions) {
    struct Case {
        std::string input;
        float frame;
        std::string text = {};
        ExportSummary summary = {};
        std::string printed = {};
        bool ok = false;
    };
    std::vector<Case> cases;
    for (int f = 0; f < 6; ++f) cases.push_back({cache(f, "c" + std::to_string(f) + ".ztp"), float(f) + 0.5f});
    testsupport::writeFile(at("bad.ztp"), std::string("bad"));
    cases.push_back({at("bad.ztp"), 3.0f});
    cases.push_back({at("none.ztp"), 3.0f});
    // The shared samples, where they are: every version, fields, odd channels.
    const std::filesystem::path shared = std::filesystem::path(CB_SOURCE_DIR) / ".." / "shared" / "fixtures" / "cases";
    if (std::filesystem::exists(shared))
        for (const auto& e : std::filesystem::directory_iterator(shared))
            if (e.path().extension() == ".ztp") cases.push_back({e.path().string(), 7.0f});

    auto request = [&](const Case& k, const std::string& out) {
        ExportRequest r{k.input, out, "p", 0.05f, 24.0f, k.frame, false};
        r.printFailure = false;
        return r;
    };
    const std::string verbosity = Cb::verbosity;
    Cb::verbosity = "QUIET";
    {
        LibrarySession library;
        for (size_t i = 0; i < cases.size(); ++i) {
            Case& k = cases[i];
            const std::string out = at("single." + std::to_string(i) + ".txscene");
            DiagnosticCapture capture([&](const std::string& text) { k.printed += text + "|"; });
            k.ok = exportInStartedLibrary(request(k, out), &k.summary);
            k.text = k.ok ? testsupport::readText(out) : "";
        }
        constexpr int kThreads = 4, kRounds = 3;
        std::vector<std::string> mismatches[kThreads];
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round)
                    for (size_t i = size_t(t + round) % kThreads; i < cases.size(); i += kThreads) {
                        const Case& k = cases[i];
                        const std::string out = at("t" + std::to_string(t) + "." + std::to_string(i) + ".txscene");
                        std::string printed;
                        ExportSummary summary;
                        bool ok;
                        {
                            DiagnosticCapture capture([&](const std::string& text) { printed += text + "|"; });
                            ok = exportInStartedLibrary(request(k, out), &summary);
                        }
                        const std::string text = testsupport::fileExists(out) ? testsupport::readText(out) : "";
                        std::remove(out.c_str());
                        if (ok != k.ok || text != k.text || printed != k.printed ||
                            summary.failure != k.summary.failure || summary.particles != k.summary.particles ||
                            summary.min != k.summary.min || summary.max != k.summary.max)
                            mismatches[t].push_back(k.input + ": " + printed + summary.failure);
                    }
            });
        for (std::thread& t : threads) t.join();
        for (const auto& m : mismatches) EXPECT_EQ(std::vector<std::string>{}, m);
    }
    Cb::verbosity = verbosity;
    EXPECT_TRUE(cases[0].ok && cases[1].summary.particles == particlesOf(1));
    EXPECT_FALSE(cases[6].ok || cases[7].ok);
}

TEST_F(FrameSequence, TheProgressLineRedrawsInPlaceAndFailuresStillGetALine) {
    cache(1, "in.1.ztp");
    cache(3, "in.3.ztp");
    SequenceSettings settings;
    settings.range = FrameRange::parse("1-3");
    settings.input = FramePattern::parse(at("in.#.ztp"));
    settings.output = FramePattern::parse(at("out.#.txscene"));
    settings.pluginName = "p";
    settings.radius = 0.05f;
    settings.keepGoing = true;
    settings.progress = true;
    std::unique_ptr<FILE, int (*)(FILE*)> diagnostics(std::tmpfile(), &std::fclose), results(std::tmpfile(), &std::fclose);
    settings.diagnostics = diagnostics.get();
    settings.results = results.get();
    EXPECT_EQ(1, runFrameSequence(settings));
    auto read = [](FILE* f) {
        std::string text;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
        return text;
    };
    const std::string progress = std::regex_replace(read(diagnostics.get()), std::regex("[0-9]+:[0-9][0-9]"), "M:SS");
    const std::string p1 = std::to_string(particlesOf(1)), p3 = std::to_string(particlesOf(1) + particlesOf(3));
    // Redraws while a frame runs may repeat a state; the states come in this order.
    const std::regex expected(
        "(\r0/3 frames, 0 particles, M:SS elapsed, -:-- left\033\\[K)+"
        "(\r[12]/3 frames, " + p1 + " particles, M:SS elapsed, M:SS left\033\\[K)*"
        "\r\033\\[Kframe 2: " + at("in.2.ztp") + ": failed: missing\n"
        "(\r[23]/3 frames, [0-9]+ particles, M:SS elapsed, M:SS left\033\\[K)*"
        "\r3/3 frames, " + p3 + " particles, M:SS elapsed, M:SS left\033\\[K\n");
    EXPECT_TRUE(std::regex_match(progress, expected)) << progress;
    EXPECT_EQ("converted 2 of 3 frames: 0 failed, 1 skipped, 0 not started; " + p3 + " particles in T s\n",
              untimed(read(results.get())));
}

TEST_F(FrameSequence, WrongCallsAreUsageErrorsBeforeAnythingRuns) {
    cache(1, "in.1.ztp");
    const std::string in = at("in.#.ztp"), out = at("out.#.txscene");
    const std::vector<std::pair<std::vector<std::string>, std::string>> calls = {
        {{"--frames", "5-1", in, out, "p", "1", "24"}, "The frame range 5-1 runs backwards: FIRST must not exceed LAST"},
        {{"--frames", "1-5:0", in, out, "p", "1", "24"}, "The frame step of 1-5:0 must be at least 1"},
        {{"--frames", "1-x", in, out, "p", "1", "24"}, "Can't parse the frame range (1-x): FIRST-LAST[:STEP] expected"},
        {{"--frames=", in, out, "p", "1", "24"}, "The frames to convert are missing (--frames FIRST-LAST)"},
        {{"--frames"}, "--frames needs FIRST-LAST[:STEP]"},
        {{"--jobs", "2", in, out, "p", "1", "24"}, "The frames to convert are missing (--frames FIRST-LAST)"},
        {{"--frames", "1-1", "--jobs", "0", in, out, "p", "1", "24"},
         "Can't parse the jobs parameter (0): a number from 1 to 256"},
        {{"--frames", "1-1", "--jobs", "2x", in, out, "p", "1", "24"},
         "Can't parse the jobs parameter (2x): a number from 1 to 256"},
        {{"--frames", "1-1", "--jobs", "257", in, out, "p", "1", "24"},
         "Can't parse the jobs parameter (257): a number from 1 to 256"},
        {{"--frames", "1-1", "--jobs"}, "--jobs needs a number"},
        {{"--frames", "1-1", "--fast", in, out, "p", "1", "24"}, "Unknown option (--fast)"},
        {{"--frames", "1-1", "--quiet=yes", in, out, "p", "1", "24"}, "Unknown option (--quiet=yes)"},
        {{"--frames", "1-1", at("in.1.ztp"), out, "p", "1", "24"},
         "Bad input pattern: no frame number in '" + at("in.1.ztp") + "': mark it with a run of # or with %0Nd"},
        {{"--frames", "1-1", in, at("out.txscene"), "p", "1", "24"},
         "Bad output pattern: no frame number in '" + at("out.txscene") + "': mark it with a run of # or with %0Nd"},
        {{"--frames", "1-1", in, at("out.%02d.%d"), "p", "1", "24"},
         "Bad output pattern: more than one frame number (%d or %0Nd) in '" + at("out.%02d.%d") + "'"},
        {{"--frames", "1-1", in, out, "p", "x", "24"}, "Can't parse the radius parameter (x)"},
        {{"--frames", "1-1", in, out, "p", "1", "fps"}, "Can't parse the fps parameter (fps)"},
        {{"--frames", "1-1", in, out, "p", "1"}, ""},
        {{"--frames", "1-1", in, out, "p", "1", "24", "7"}, ""},
    };
    for (const auto& [args, message] : calls) {
        const Call c = run(args);
        EXPECT_EQ(1, c.code) << args[0];
        EXPECT_EQ("", c.out);
        const size_t usage = c.err.find("usage: prog --frames FIRST-LAST[:STEP] [--jobs N] [--keep-going] [--quiet] "
                                        "input_pattern output_pattern plugin_name radius fps\nFrame sequences:\n");
        EXPECT_NE(std::string::npos, usage) << c.err;
        if (!message.empty()) {
            EXPECT_EQ(message + "\n", c.err.substr(0, usage)) << c.err;
        }
        EXPECT_EQ(std::vector<std::string>{}, outputs()) << c.err;
    }
    // "--" ends the options; the six-argument form is untouched.
    EXPECT_EQ(0, run({"--frames", "1-1", "--", in, out, "p", "1", "24"}).code);
    const Call six = run({at("in.1.ztp"), at("six.txscene"), "p", "1", "24", "1"});
    EXPECT_EQ(0, six.code);
    EXPECT_EQ(0u, six.err.find("Actual parameters:\n"));
    EXPECT_EQ(testsupport::readText(at("six.txscene")), testsupport::readText(at("out.1.txscene")));
}

TEST(FrameSequenceHelp, HelpShowsBothForms) {
    const Call h = run({"--help"});
    EXPECT_EQ(0, h.code);
    EXPECT_EQ("", h.err);
    EXPECT_EQ(0u, h.out.find("usage: prog input_file output_file plugin_name radius fps frame\n")) << h.out;
    EXPECT_NE(std::string::npos,
              h.out.find("\n       prog --frames FIRST-LAST[:STEP] [--jobs N] [--keep-going] [--quiet] input_pattern "
                         "output_pattern plugin_name radius fps\nFrame sequences:\n"))
        << h.out;
    EXPECT_NE(std::string::npos, h.out.find("as %0Nd or %d, as in fluid.####.ztp\n")) << h.out;
    EXPECT_EQ(h.out.size() - std::string("       prog --help | --version\n").size(),
              h.out.find("       prog --help | --version\n"));
}

// The built program: exit codes, the summary alone on standard output, and
// new files made under the process's umask while frames run at once.
TEST_F(FrameSequence, TheProgramRunsFramesAtOnceUnderTheUmask) {
    for (int f = 1; f <= 4; ++f) cache(f, "in." + std::to_string(f) + ".ztp");
    auto program = [&](const std::string& args) {
        const std::string command = "umask 027; exec '" CB_CONVERTER_PATH "' " + args + " 2>'" + at("err") + "' >'" +
                                    at("out") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string patterns = "'" + at("in.#.ztp") + "' '" + at("out.#.txscene") + "' p 0.05 24";
    EXPECT_EQ(0, program("--frames 1-4 --jobs 3 " + patterns));
    EXPECT_EQ(0u, testsupport::readText(at("out")).find("converted 4 of 4 frames: 0 failed, 0 skipped, 0 not started"));
    EXPECT_EQ(0u, testsupport::readText(at("err")).find("frame 1: "));
    for (int f = 1; f <= 4; ++f) {
        struct stat st;
        ASSERT_EQ(0, ::stat(at("out." + std::to_string(f) + ".txscene").c_str(), &st));
        EXPECT_EQ(0640u, st.st_mode & 0777);
    }
    EXPECT_EQ(1, program("--frames 1-5 --jobs 2 --keep-going " + patterns));
    EXPECT_EQ(1, program("--frames 5-1 " + patterns));
    EXPECT_EQ("", testsupport::readText(at("out")));
}

}  // namespace
