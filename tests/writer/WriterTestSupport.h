#pragma once
// Helpers of the writer tests: a started library in a scratch folder, files
// written and read back; the bodies and their texts come from RichBodies.h.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "RichBodies.h"
#include "TempPath.h"
#include "cb/factory/Startup.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"

namespace writertest {

class WriterTest : public ::testing::Test {
protected:
    WriterTest() {
        testsupport::CaptureStderr quiet;  // the two missing signature folders
        Cb::begin(true);
    }
    ~WriterTest() override { Cb::end(); }

    std::string file(const std::string& name) const { return dir.file(name); }
    // Writes the bodies with one selection; returns what was logged.
    std::string write(const std::string& path, const std::vector<Cb::Body*>& bodies,
                      const std::string& selection = "*.*", bool compress = true) {
        testsupport::CaptureStderr err;
        Cb::ZtpWriter writer;
        writer.open(path);
        for (Cb::Body* body : bodies) writer.writeBody(*body, selection, compress);
        writer.close();
        return err.finish();
    }
    // Reads every body of a file.
    std::unique_ptr<Cb::ZtpReader> read(const std::string& path) {
        testsupport::CaptureStderr quiet;
        return std::make_unique<Cb::ZtpReader>(path, "*", "Body");
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

// The warning line the log channel prints for a text.
inline std::string warningLine(const std::string& text) { return "Corix ** WARNING ** : " + text + "\n"; }

using testsupport::makePlainBody;
using testsupport::makeRichBody;
inline std::string describe(const Cb::Body& body, bool shapes = true) { return testsupport::describeBody(body, shapes); }

}  // namespace writertest
