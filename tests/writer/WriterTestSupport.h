#pragma once
// Helpers of the writer tests: a started library in a scratch folder, files
// written and read back, bodies holding a bit of everything a body record
// carries, and a text of all that a record stores, so that a body and the
// body read back from its file compare as two texts.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureOutput.h"
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

// Values of every type in sections ("Stepping" added after "Fluid"),
// enumerated groups, a transform, a layout of tile size 4 at cell size 0.5
// with fine tiles (0,0,0), (1,0,0), (-1,2,3) and their coarse shell, and all
// six shape kinds with channels of every element type; the first fine block
// holds 300 particles, two coarse blocks hold a few.
std::unique_ptr<Cb::Body> makeRichBody(const std::string& name);
// Forty particles over several tiles: position, velocity, density.
std::unique_ptr<Cb::Body> makePlainBody(const std::string& name);
// Name, signature name, extra text, transform, sections and values, layout,
// and (with `shapes`) every shape that has channels with all a record keeps
// of each channel: type, name, stored count and statistics, default, and its
// data (particle blocks of both lists with their tiles, buffer elements,
// field values with background, sample set and attributes).
std::string describe(const Cb::Body& body, bool shapes = true);

}  // namespace writertest
