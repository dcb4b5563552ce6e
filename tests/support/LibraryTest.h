#pragma once
// A test with the library started around it, over a fresh folder that is
// also its CORIX_PATH (no signatures: the library starts with the built-in
// types alone).

#include <gtest/gtest.h>

#include <string>

#include "CaptureOutput.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"

namespace testsupport {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CaptureStderr quiet;  // the missing signature folders
        Cb::begin(true);
    }
    void TearDown() override { Cb::end(); }

    std::string file(const std::string& name) const { return dir.file(name); }

    TempDir dir;
    ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

}  // namespace testsupport
