// The growable array's growth and failure, the counted handle, parallel
// errors, the log channel and the thread counts. (Exception texts are checked
// by every failure test, the vectors' memory image where they are declared,
// the array's edits by the layouts and blocks built on it.)
#include <gtest/gtest.h>
#include <omp.h>

#include <thread>
#include <vector>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/CbRefPtr.h"
#include "cb/Log.h"
#include "cb/ThreadCount.h"
#include "txutils/Processors.h"
#include "zt/array1.h"
#include "zt/parallel.h"
#include "zt/ztx.h"

TEST(Array1, GrowsToTwiceCapacityPlusOneAndFailsAsOutOfMemory) {
    zt::array1<int64_t> a;
    std::vector<int64_t> capacities;
    for (int i = 0; i < 5; ++i) a.push_back(i * 10), capacities.push_back(a.capacity());
    EXPECT_EQ((std::vector<int64_t>{1, 3, 3, 7, 7}), capacities);
    // 2^61 doubles overflow the byte count; 2^59 do not but cannot be had.
    zt::array1<double> big;
    for (int64_t n : {int64_t(1) << 61, int64_t(1) << 59})
        EXPECT_EQ("Out of memory.", testsupport::messageOf([&] { big.reserve(n); }));
    EXPECT_EQ(0, big.capacity());
}

namespace {
struct Counted {
    static int live;
    int value;
    explicit Counted(int v) : value(v) { ++live; }
    Counted(const Counted& o) : value(o.value) { ++live; }
    ~Counted() { --live; }
    Counted* clone() const { return new Counted(*this); }
};
int Counted::live = 0;
}  // namespace

TEST(CbRefPtr, CopiesShareUntilOneSideWritesAndNoDeleteKeepsTheObject) {
    Counted stack(5);
    {
        Cb::CbRefPtr<Counted> a(new Counted(1)), b = a;
        EXPECT_TRUE(a.refCount() == 2 && a.get() == b.get());
        b.mutableGet()->value = 2;  // detaches b only, through clone()
        EXPECT_TRUE(a->value == 1 && b->value == 2 && a.refCount() == 1 && b.refCount() == 1);
        EXPECT_EQ(3, Counted::live);
        Cb::CbRefPtr<Counted> kept(&stack, true), other = kept;
        other.reset();
        EXPECT_TRUE(kept.refCount() == 1 && !other);
    }
    EXPECT_EQ(1, Counted::live);  // only `stack`
    // Types without clone() detach by copy.
    Cb::CbRefPtr<std::string> s(new std::string("abc")), t = s;
    *t.mutableGet() += "d";
    EXPECT_TRUE(*s == "abc" && *t == "abcd");
}

TEST(ParallelErrors, FirstFailureComesBackOnTheCallingThreadOnce) {
    zt::parallel_errors errors;
    int ran = 0;
#pragma omp parallel for reduction(+ : ran)
    for (int i = 0; i < 64; ++i) {
        errors.capture([&] {
            ++ran;
            if (i % 7 == 3) throw ztx::base("piece failed");
        });
    }
    EXPECT_EQ(64, ran);
    EXPECT_TRUE(errors.failed());
    EXPECT_EQ("piece failed", testsupport::messageOf([&] { errors.rethrow(); }));
    EXPECT_NO_THROW(errors.rethrow());
}

namespace {
std::string logAll(const char* verbosity) {
    const std::string saved = Cb::verbosity;
    Cb::verbosity = verbosity;
    testsupport::CaptureStderr capture;
    Cb::logInfo("Scanning /x ...");
    Cb::logWarning("careful");
    Cb::logError("broken");
    Cb::verbosity = saved;
    return capture.finish();
}
}  // namespace

TEST(Log, PrefixesVerbosityAndTheLogFile) {
    EXPECT_EQ("NORMAL", Cb::verbosity);
    const std::string all = "Corix: Scanning /x ...\nCorix ** WARNING ** : careful\n***** CORIX ERROR: broken\n";
    EXPECT_EQ(all, logAll("NORMAL"));
    EXPECT_EQ(all, logAll("quiet"));  // not a recognised value: acts as NORMAL
    EXPECT_EQ("Corix ** WARNING ** : careful\n***** CORIX ERROR: broken\n", logAll("QUIET"));
    EXPECT_EQ("***** CORIX ERROR: broken\n", logAll("SILENT"));
    EXPECT_FALSE(Cb::verbose());
    // Every line goes to the log file too, and memory reports only there.
    testsupport::TempDir dir;
    ASSERT_EQ(nullptr, Cb::logFile());
    ASSERT_TRUE(Cb::openLogFile(dir.file("lib.log")));
    {
        testsupport::CaptureStderr capture;
        Cb::logWarning("w");
        Cb::writeLogFile("            Channel position: 0.5 MB");
        EXPECT_EQ("Corix ** WARNING ** : w\n", capture.finish());
    }
    EXPECT_TRUE(Cb::closeLogFile() && Cb::logFile() == nullptr);
    EXPECT_EQ("Corix ** WARNING ** : w\n            Channel position: 0.5 MB\n",
              testsupport::readText(dir.file("lib.log")));
    EXPECT_FALSE(Cb::openLogFile(dir.file("missing/dir/lib.log")));
}

TEST(Log, ARedirectTakesOnlyItsOwnThreadsLinesAndNests) {
    std::vector<std::string> outer, inner;
    testsupport::CaptureStderr capture;
    {
        Cb::ThreadLogRedirect a([&](const std::string& line) { outer.push_back(line); });
        Cb::logWarning("one");
        {
            Cb::ThreadLogRedirect b([&](const std::string& line) { inner.push_back(line); });
            Cb::logError("two");
            // Another thread's lines, and a throwing sink's, do not reach this one.
            std::thread([&] {
                Cb::ThreadLogRedirect c([](const std::string&) { throw std::runtime_error("sink"); });
                Cb::logWarning("lost");
            }).join();
            std::thread([] { Cb::logInfo("elsewhere"); }).join();
        }
        Cb::logInfo("three");
    }
    Cb::logWarning("four");
    EXPECT_EQ((std::vector<std::string>{"Corix ** WARNING ** : one", "Corix: three"}), outer);
    EXPECT_EQ((std::vector<std::string>{"***** CORIX ERROR: two"}), inner);
    EXPECT_EQ("Corix: elsewhere\nCorix ** WARNING ** : four\n", capture.finish());
}

TEST(ThreadCounts, EnvironmentOverridesOnlyWithPositiveNumbersAndTheLibraryCountIsClamped) {
    const int logical = TxUtils::logicalProcessors();
    ASSERT_GE(logical, 1);
    const std::pair<const char*, int> cases[] = {{"3", 3}, {"0", logical}, {"-2", logical}, {"abc", logical},
                                                 {"", logical}, {nullptr, logical}};
    for (const auto& [value, count] : cases) {
        testsupport::ScopedEnv env("TESSIX_NUM_THREADS", value);
        EXPECT_EQ(count, TxUtils::computeProcessorCount()) << (value ? value : "unset");
    }
    EXPECT_EQ(1, Cb::libraryThreadCount());
    EXPECT_EQ(2, Cb::applyLibraryThreadCount(2));
    EXPECT_EQ(2, omp_get_max_threads());
    EXPECT_EQ(Cb::kMaxThreadCount, Cb::applyLibraryThreadCount(1000000));
    EXPECT_EQ(Cb::kMinThreadCount, Cb::applyLibraryThreadCount(-4));
    EXPECT_GE(Cb::threadSlots(), omp_get_max_threads());
    Cb::applyLibraryThreadCount(1);
}
