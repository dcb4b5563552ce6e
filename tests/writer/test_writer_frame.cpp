// The file around the body records: the exact header with the time, the body
// count patched by close and by the destructor, records in call order,
// missing directories, unopenable paths, reopening, and failing streams.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "WriterTestSupport.h"
#include "cb/io/ZtpWriter.h"

using namespace Cb;
using testsupport::messageOf;
using writertest::describe;

namespace {

class WriterFrame : public writertest::WriterTest {};

int32_t countField(const std::string& path) {
    const auto bytes = testsupport::readBytes(path);
    int32_t count = -1;
    if (bytes.size() >= 20) std::memcpy(&count, bytes.data() + 16, 4);
    return count;
}

}  // namespace

TEST_F(WriterFrame, HeaderTimeCountAndRecordsInCallOrder) {
    ZtpWriter writer;
    writer.setTime(2.5);
    writer.open(file("empty.ztp"));
    writer.close();
    writer.close();  // a second close does nothing
    EXPECT_EQ("B1 AB BA AB 10 00 00 00 00 00 00 00 00 00 04 40 00 00 00 00",
              testsupport::toHex(testsupport::readBytes(file("empty.ztp"))));
    EXPECT_EQ(0, read(file("empty.ztp"))->bodyCount());
    double time = 0;
    EXPECT_TRUE(ZtpReader().readHeaderInfo(file("empty.ztp"), time));
    EXPECT_EQ(2.5, time);

    auto a = writertest::makePlainBody("c"), b = writertest::makePlainBody("a"), c = writertest::makePlainBody("b");
    writer.open(file("three.ztp"));
    EXPECT_EQ(0, writer.bodiesWritten());
    for (Body* body : {a.get(), b.get(), c.get()}) writer.writeBody(*body, "*.*", true);
    writer.close();
    EXPECT_EQ(3, countField(file("three.ztp")));
    auto reader = read(file("three.ztp"));
    ASSERT_EQ(3, reader->bodyCount());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(std::string(1, "cab"[k]), reader->bodyName(k));
    EXPECT_EQ(describe(*b), describe(*reader->storedBody(1)));
}

TEST_F(WriterFrame, DestroyingOrReopeningAnOpenWriterFinishesItsFile) {
    auto first = writertest::makePlainBody("first"), second = writertest::makePlainBody("second");
    {
        ZtpWriter writer;
        writer.open(file("d.ztp"));
        writer.writeBody(*first, "*.*", false);
        writer.writeBody(*second, "*.*", true);
        writer.open(file("e.ztp"));  // opening again finishes the open file first
        writer.writeBody(*second, "*.*", true);
    }
    EXPECT_EQ(2, countField(file("d.ztp")));
    EXPECT_EQ(1, countField(file("e.ztp")));
    auto reader = read(file("d.ztp"));
    ASSERT_EQ(2, reader->bodyCount());
    EXPECT_EQ(describe(*first), describe(*reader->storedBody(0)));
    EXPECT_EQ(describe(*second), describe(*reader->storedBody(1)));
}

TEST_F(WriterFrame, MissingDirectoriesAreCreatedUnopenablePathsFail) {
    auto body = writertest::makePlainBody("deep");
    write(file("one/two/deep.ztp"), {body.get()});
    struct stat st;
    EXPECT_TRUE(::stat(file("one/two").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_EQ(1, read(file("one/two/deep.ztp"))->bodyCount());
    write(file("one/again.ztp"), {body.get()});  // an existing folder is no obstacle
    EXPECT_EQ(1, countField(file("one/again.ztp")));

    testsupport::writeFile(file("plain"), std::string("a file, not a folder"));
    ZtpWriter writer;
    for (const std::string& path : {file("plain/sub/x.ztp"), dir.path()})
        EXPECT_EQ("Ztp::Writer(" + path + ") failed: Cannot open file for writing.",
                  messageOf([&] { writer.open(path); }));
    EXPECT_EQ("ZtpWriter(" + dir.path() + ") has no open file",
              messageOf([&] { writer.writeBody(*body, "*.*", true); }));
}

TEST_F(WriterFrame, BodyFailingPartWayLeavesNoHalfRecord) {
    auto first = writertest::makePlainBody("first"), last = writertest::makePlainBody("last");
    write(file("source.ztp"), {writertest::makeRichBody("lost").get()});
    auto source = read(file("source.ztp"));
    // The body's channel data wait in a file that is gone by the time they are written.
    std::rename(file("source.ztp").c_str(), file("moved.ztp").c_str());
    {
        testsupport::CaptureStderr quiet;
        ZtpWriter writer;
        writer.open(file("out.ztp"));
        writer.writeBody(*first, "*.*", true);
        EXPECT_EQ("read_ztp(" + file("source.ztp") + ") failed: Cannot open file: No such file or directory",
                  messageOf([&] { writer.writeBody(*source->storedBody(0), "*.*", true); }));
        writer.writeBody(*last, "*.*", true);
        EXPECT_EQ(2, writer.bodiesWritten());
    }
    std::string log;
    auto reader = read(file("out.ztp"), &log);
    EXPECT_EQ("Corix: Reading ZTP: " + file("out.ztp") + "\n", log);
    ASSERT_EQ(2, reader->bodyCount());
    EXPECT_EQ(describe(*first), describe(*reader->storedBody(0)));
    EXPECT_EQ(describe(*last), describe(*reader->storedBody(1)));
}

TEST_F(WriterFrame, FullDeviceFailsInsteadOfReportingSuccess) {
    if (!testsupport::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto body = writertest::makeRichBody("big");
    testsupport::CaptureStderr err;  // the destructor reports a close that fails again
    ZtpWriter writer;
    writer.open("/dev/full");
    EXPECT_NE("(no failure)", messageOf([&] {
                  writer.writeBody(*body, "*.*", false);
                  writer.close();
              }));
}
