// The processor count from TESSIX_NUM_THREADS and the library thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include "TempPath.h"
#include "cb/ThreadCount.h"
#include "txutils/Processors.h"

TEST(ProcessorCount, EnvironmentOverridesOnlyWithPositiveNumbers) {
    const int logical = TxUtils::logicalProcessors();
    ASSERT_GE(logical, 1);
    {
        testsupport::ScopedEnv env("TESSIX_NUM_THREADS", "3");
        EXPECT_EQ(3, TxUtils::computeProcessorCount());
    }
    for (const char* bad : {"0", "-2", "abc", ""}) {
        testsupport::ScopedEnv env("TESSIX_NUM_THREADS", bad);
        EXPECT_EQ(logical, TxUtils::computeProcessorCount()) << bad;
    }
    {
        testsupport::ScopedEnv env("TESSIX_NUM_THREADS", nullptr);
        EXPECT_EQ(logical, TxUtils::computeProcessorCount());
    }
    EXPECT_GE(TxUtils::processorCount(), 1);
}

TEST(LibraryThreadCount, StartsAtOneAndIsClampedWhenApplied) {
    EXPECT_EQ(1, Cb::libraryThreadCount());
    EXPECT_EQ(2, Cb::applyLibraryThreadCount(2));
    EXPECT_EQ(2, omp_get_max_threads());
    EXPECT_EQ(Cb::kMaxThreadCount, Cb::applyLibraryThreadCount(1000000));
    EXPECT_EQ(Cb::kMinThreadCount, Cb::applyLibraryThreadCount(-4));
    EXPECT_GE(Cb::threadSlots(), omp_get_max_threads());
    Cb::applyLibraryThreadCount(1);
}
