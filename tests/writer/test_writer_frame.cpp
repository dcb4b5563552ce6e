// The file around the body records: the exact header, the body count patched
// by close and by the destructor, records in call order, missing directories,
// unopenable paths, the time value, reopening, and failing streams.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "RichBody.h"
#include "WriterTestSupport.h"
#include "cb/factory/Factory.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleShape.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using testsupport::ByteBuilder;
using testsupport::messageOf;

namespace {

class WriterFrame : public writertest::WriterTest {};

int32_t countField(const std::string& path) {
    const auto bytes = testsupport::readBytes(path);
    if (bytes.size() < 20) return -1;
    int32_t count;
    std::memcpy(&count, bytes.data() + 16, 4);
    return count;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TEST_F(WriterFrame, EmptyFileIsTheTwentyByteHeader) {
    ZtpWriter writer;
    writer.open(file("empty.ztp"));
    EXPECT_TRUE(writer.isOpen());
    writer.close();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ("B1 AB BA AB 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
              testsupport::toHex(testsupport::readBytes(file("empty.ztp"))));
    auto reader = read(file("empty.ztp"));
    EXPECT_EQ(0, reader->bodyCount());
    writer.close();  // a second close does nothing
    EXPECT_EQ(20u, testsupport::readBytes(file("empty.ztp")).size());
}

TEST_F(WriterFrame, TimeGoesIntoTheHeader) {
    ZtpWriter writer;
    writer.setTime(2.5);
    writer.open(file("t.ztp"));
    writer.close();
    EXPECT_EQ(ByteBuilder().u32(0xABBAABB1u).i32(16).f64(2.5).i32(0).data(), testsupport::readBytes(file("t.ztp")));
    EXPECT_EQ(2.5, read(file("t.ztp"))->time());
    double time = 0;
    ZtpReader header;
    EXPECT_TRUE(header.readHeaderInfo(file("t.ztp"), time));
    EXPECT_EQ(2.5, time);
}

TEST_F(WriterFrame, ThreeBodiesAreCountedAndKeepTheirOrder) {
    auto a = writertest::makeParticleOnlyBody("c");
    auto b = writertest::makeParticleOnlyBody("a");
    auto c = writertest::makeParticleOnlyBody("b");
    ZtpWriter writer;
    writer.open(file("three.ztp"));
    std::vector<int64_t> starts;
    for (Body* body : {a.get(), b.get(), c.get()}) {
        starts.push_back(writer.tell());
        writer.writeBody(*body, "*.*", true);
    }
    EXPECT_EQ(3, writer.bodiesWritten());
    writer.close();
    EXPECT_EQ(3, countField(file("three.ztp")));
    // The first record starts right after the header; each starts with its name.
    EXPECT_EQ(20, starts[0]);
    const auto bytes = testsupport::readBytes(file("three.ztp"));
    const char* names[] = {"c", "a", "b"};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(testsupport::toHex(ByteBuilder().str(names[k]).data()),
                  testsupport::toHex(std::vector<uint8_t>(bytes.begin() + starts[size_t(k)], bytes.begin() + starts[size_t(k)] + 6)));
    auto reader = read(file("three.ztp"));
    ASSERT_EQ(3, reader->bodyCount());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(names[k], reader->bodyName(k));
    writertest::expectSameBody(*b, *reader->storedBody(1));
}

TEST_F(WriterFrame, DestroyingAnOpenWriterPatchesTheCount) {
    auto first = writertest::makeParticleOnlyBody("first");
    auto second = writertest::makeParticleOnlyBody("second");
    {
        ZtpWriter writer;
        writer.open(file("d.ztp"));
        writer.writeBody(*first, "*.*", false);
        writer.writeBody(*second, "*.*", true);
    }
    EXPECT_EQ(2, countField(file("d.ztp")));
    auto reader = read(file("d.ztp"));
    ASSERT_EQ(2, reader->bodyCount());
    writertest::expectSameBody(*first, *reader->storedBody(0));
    writertest::expectSameBody(*second, *reader->storedBody(1));
}

TEST_F(WriterFrame, MissingDirectoriesAreCreated) {
    const std::string path = file("one/two/deep.ztp");
    ASSERT_FALSE(isDirectory(file("one")));
    auto body = writertest::makeParticleOnlyBody("deep");
    write(path, {body.get()});
    EXPECT_TRUE(isDirectory(file("one/two")));
    EXPECT_EQ(1, read(path)->bodyCount());
    // An existing folder is no obstacle either.
    write(file("one/again.ztp"), {body.get()});
    EXPECT_EQ(1, countField(file("one/again.ztp")));
}

TEST_F(WriterFrame, UnopenablePathFailsWithItsMessage) {
    testsupport::writeFile(file("plain"), std::string("a file, not a folder"));
    const std::string path = file("plain/sub/x.ztp");
    ZtpWriter writer;
    EXPECT_EQ("Ztp::Writer(" + path + ") failed: Cannot open file for writing.", messageOf([&] { writer.open(path); }));
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(path, writer.fileName());
    writer.close();  // nothing to close
    EXPECT_EQ("Ztp::Writer(" + dir.path() + ") failed: Cannot open file for writing.",
              messageOf([&] { writer.open(dir.path()); }));  // a folder is no file
}

TEST_F(WriterFrame, ReopeningStartsANewFileAndClosesTheOldOne) {
    auto body = writertest::makeParticleOnlyBody("r");
    ZtpWriter writer;
    writer.open(file("first.ztp"));
    writer.writeBody(*body, "*.*", true);
    writer.close();
    writer.open(file("second.ztp"));
    EXPECT_EQ(0, writer.bodiesWritten());
    writer.writeBody(*body, "*.*", true);
    writer.writeBody(*body, "*.*", true);
    // Opening again while open finishes the open file first.
    writer.open(file("third.ztp"));
    writer.writeBody(*body, "*.*", true);
    writer.close();
    EXPECT_EQ(1, countField(file("first.ztp")));
    EXPECT_EQ(2, countField(file("second.ztp")));
    EXPECT_EQ(1, countField(file("third.ztp")));
    EXPECT_EQ(2, read(file("second.ztp"))->bodyCount());
}

TEST_F(WriterFrame, BodyFailingPartWayLeavesNoHalfRecord) {
    auto first = writertest::makeParticleOnlyBody("first");
    auto last = writertest::makeParticleOnlyBody("last");
    write(file("source.ztp"), {writertest::makeRichBody("lost").get()});
    auto source = read(file("source.ztp"));
    // The body's channel data wait in a file that is gone by the time they
    // are written.
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
    writertest::expectSameBody(*first, *reader->storedBody(0));
    writertest::expectSameBody(*last, *reader->storedBody(1));
}

TEST_F(WriterFrame, FactoryHandsOutTheZtpWriter) {
    std::unique_ptr<BodyWriter> writer = Factory::instance().createBodyWriter("ztp");
    ASSERT_NE(nullptr, dynamic_cast<ZtpWriter*>(writer.get()));
    auto body = writertest::makeParticleOnlyBody("f");
    writer->open(file("f.ztp"));
    writer->writeBody(*body, "*.*", true);
    writer->close();
    auto reader = read(file("f.ztp"));
    ASSERT_EQ(1, reader->bodyCount());
    writertest::expectSameBody(*body, *reader->storedBody(0));
}

TEST_F(WriterFrame, WritingWithoutAnOpenFileIsRefused) {
    auto body = writertest::makeParticleOnlyBody("n");
    ZtpWriter writer;
    EXPECT_NE("(no failure)", messageOf([&] { writer.writeBody(*body, "*.*", true); }));
    EXPECT_EQ(0, writer.bodiesWritten());
}

TEST_F(WriterFrame, FullDeviceFailsInsteadOfReportingSuccess) {
    if (!testsupport::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto body = writertest::makeRichBody("big");
    testsupport::CaptureStderr err;  // the destructor reports a close that fails again
    std::string failure;
    {
        ZtpWriter writer;
        writer.open("/dev/full");
        failure = messageOf([&] {
            writer.writeBody(*body, "*.*", false);
            writer.close();
        });
    }
    EXPECT_NE("(no failure)", failure);
    err.finish();
}
