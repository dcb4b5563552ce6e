#pragma once
// Helpers of the writer tests: a started library in a scratch folder, files
// written and read back with what they logged, and field-by-field comparison
// of a body with the body read back from its file.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/Channel.h"

namespace writertest {

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string file(const std::string& name) const { return dir.file(name); }

    // Writes the bodies with one selection; returns what was logged.
    std::string write(const std::string& path, const std::vector<Cb::Body*>& bodies,
                      const std::string& selection = "*.*", bool compress = true);
    // Reads every body of a file; `log` receives what the reader logged.
    std::unique_ptr<Cb::ZtpReader> read(const std::string& path, std::string* log = nullptr);

    testsupport::TempDir dir;
    testsupport::ScopedEnv corix{"CORIX_PATH", dir.path().c_str()};
};

// The warning line the log channel prints for a text.
std::string warningLine(const std::string& text);

// Name, signature name, extra text, transform, sections and values, layout,
// and every shape with every channel of `written` equal in `read` (the body
// read back from the file `written` went to).
void expectSameBody(const Cb::Body& written, const Cb::Body& read);
void expectSameValues(const Cb::Body& written, const Cb::Body& read);
void expectSameLayout(const Cb::Body& written, const Cb::Body& read);
void expectSameShapes(const Cb::Body& written, const Cb::Body& read);
// Type, name, stored count and statistics, default and all data (particle
// blocks of both lists, buffer elements, field values with their
// backgrounds, sample sets and attributes), next ids.
void expectSameChannel(const Cb::Channel& written, const Cb::Channel& read);

// The names of a shape's channels, in list order.
std::vector<std::string> channelNames(const Cb::Body& body, const std::string& kind);

}  // namespace writertest
