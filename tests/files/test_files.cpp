// Directory listing, extension tests, environment variables and whole-file
// reading.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/factory/Files.h"
#include "zt/ztx.h"

using Names = std::vector<std::string>;
using testsupport::messageOf;

TEST(Files, ExtensionTestIsCaseSensitiveAndNeedsAStem) {
    EXPECT_TRUE(Cb::hasExtension("a.sig", "sig"));
    EXPECT_TRUE(Cb::hasExtension("b.Sig", "Sig"));
    EXPECT_FALSE(Cb::hasExtension("b.Sig", "sig"));
    EXPECT_FALSE(Cb::hasExtension("c.SIG", "sig"));
    EXPECT_FALSE(Cb::hasExtension("c.SIG", "Sig"));
    EXPECT_FALSE(Cb::hasExtension("sig", "sig"));
    EXPECT_FALSE(Cb::hasExtension(".sig", "sig"));
    EXPECT_FALSE(Cb::hasExtension("asig", "sig"));
    EXPECT_FALSE(Cb::hasExtension("a.sigx", "sig"));
    EXPECT_TRUE(Cb::hasExtension("/dir/x.y.sig", "sig"));
    EXPECT_FALSE(Cb::hasExtension("", ""));
    EXPECT_TRUE(Cb::hasExtension("ab.", ""));
}

TEST(Files, StripExtensionOnlyLooksAtTheLastComponent) {
    EXPECT_EQ("/sig/Fluid", Cb::stripExtension("/sig/Fluid.so"));
    EXPECT_EQ("a.b", Cb::stripExtension("a.b.c"));
    EXPECT_EQ("noext", Cb::stripExtension("noext"));
    EXPECT_EQ("dir.d/file", Cb::stripExtension("dir.d/file"));
    EXPECT_EQ("dir.d\\file", Cb::stripExtension("dir.d\\file"));
    EXPECT_EQ("dir.d/", Cb::stripExtension("dir.d/.hidden"));
    EXPECT_EQ("", Cb::stripExtension(".x"));
}

TEST(Files, NativePathsUseSlashes) {
    EXPECT_EQ("/opt/corix/server/standard-sig", Cb::toNativePath("/opt/corix\\server\\standard-sig"));
    EXPECT_EQ("a/b//c", Cb::toNativePath("a\\b\\/c"));
    EXPECT_EQ("", Cb::toNativePath(""));
}

TEST(Files, ListingKeepsRegularFilesInByteOrder) {
    testsupport::TempDir dir;
    for (const char* name : {"b.Sig", "a.sig", "c.SIG", "sig", ".sig", "Z.sig", "_x", "a.sig~"})
        testsupport::writeFile(dir.file(name), "x");
    ASSERT_EQ(0, mkdir(dir.file("sub.sig").c_str(), 0777));
    testsupport::writeFile(dir.file("sub.sig/inner.sig"), "x");  // no recursion
    ASSERT_EQ(0, symlink(dir.file("a.sig").c_str(), dir.file("link.sig").c_str()));
    ASSERT_EQ(0, symlink(dir.file("sub.sig").c_str(), dir.file("dirlink.sig").c_str()));
    ASSERT_EQ(0, symlink(dir.file("gone").c_str(), dir.file("dangling.sig").c_str()));

    testsupport::CaptureStderr capture;
    const Names names = Cb::listDirectory(dir.path());
    EXPECT_EQ("", capture.finish());
    EXPECT_EQ((Names{".sig", "Z.sig", "_x", "a.sig", "a.sig~", "b.Sig", "c.SIG", "link.sig", "sig"}), names);

    Names signatures;
    for (const std::string& name : names)
        if (Cb::hasExtension(name, "sig") || Cb::hasExtension(name, "Sig")) signatures.push_back(name);
    EXPECT_EQ((Names{"Z.sig", "a.sig", "b.Sig", "link.sig"}), signatures);

    // A trailing separator and backslashes name the same directory.
    EXPECT_EQ(names, Cb::listDirectory(dir.path() + "/"));
}

TEST(Files, EmptyAndMissingDirectories) {
    testsupport::TempDir dir;
    {
        testsupport::CaptureStderr capture;
        EXPECT_TRUE(Cb::listDirectory(dir.path()).empty());
        EXPECT_EQ("", capture.finish());
    }
    const std::string missing = dir.file("standard-sig");
    testsupport::CaptureStderr capture;
    EXPECT_TRUE(Cb::listDirectory(missing).empty());
    EXPECT_TRUE(Cb::listDirectory(dir.path() + "\\server\\user-sig").empty());
    testsupport::writeFile(dir.file("plain"), "x");
    EXPECT_TRUE(Cb::listDirectory(dir.file("plain")).empty());
    EXPECT_EQ("***** CORIX ERROR: Invalid path: " + missing + "/*\n" +
                  "***** CORIX ERROR: Invalid path: " + dir.path() + "/server/user-sig/*\n" +
                  "***** CORIX ERROR: Invalid path: " + dir.file("plain") + "/*\n",
              capture.finish());
}

TEST(Files, GetEnvStripsOneTrailingSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/corix/", "/opt/corix"}, {"/opt/corix", "/opt/corix"}, {"C:\\corix\\", "C:\\corix"},
        {"/a//", "/a/"},               {"/", "/"},                   {"", ""}};
    for (const auto& [value, expected] : cases) {
        testsupport::ScopedEnv env("CB_TEST_ENV", value);
        EXPECT_EQ(expected, Cb::getEnv("CB_TEST_ENV")) << value;
    }
    testsupport::ScopedEnv unset("CB_TEST_ENV", nullptr);
    EXPECT_EQ("", Cb::getEnv("CB_TEST_ENV"));
}

TEST(Files, CorixRootIsRequired) {
    const std::string message = "Please set $CORIX_PATH to the Corix root directory.";
    {
        testsupport::ScopedEnv env("CORIX_PATH", nullptr);
        EXPECT_EQ(message, messageOf([] { Cb::corixRoot(); }));
    }
    {
        testsupport::ScopedEnv env("CORIX_PATH", "");
        EXPECT_EQ(message, messageOf([] { Cb::corixRoot(); }));
    }
    testsupport::ScopedEnv env("CORIX_PATH", "/opt/corix/");
    EXPECT_EQ("/opt/corix", Cb::corixRoot());
}

TEST(Files, ReadFileTranslatesLineEndsLikeTextMode) {
    testsupport::TempDir dir;
    const std::string path = dir.file("t.sig");
    testsupport::writeFile(path, "a\r\nb\rc\n\r\n\r");
    EXPECT_EQ("a\nb\rc\n\n\r", Cb::readFile(path));
    testsupport::writeFile(path, "");
    EXPECT_EQ("", Cb::readFile(path));
    // Larger than one read buffer, with a zero byte kept.
    std::string big(200000, 'x');
    big[70000] = '\0';
    big[131071] = '\r';
    big[131072] = '\n';
    testsupport::writeFile(path, big);
    std::string expected = big;
    expected.erase(131071, 1);
    EXPECT_EQ(expected, Cb::readFile(path));
}

TEST(Files, ReadFileFailuresCarryTheSystemText) {
    testsupport::TempDir dir;
    const std::string missing = dir.file("missing.sig");
    EXPECT_EQ("Error loading file " + missing + ": No such file or directory",
              messageOf([&] { Cb::readFile(missing); }));
    EXPECT_EQ("Error loading file " + dir.path() + ": Is a directory", messageOf([&] { Cb::readFile(dir.path()); }));
    EXPECT_EQ("Error loading file /dev/zero: Invalid argument", messageOf([] { Cb::readFile("/dev/zero"); }));
}

// A file whose status can be read but which cannot be opened: no descriptor
// is left for the open.
TEST(Files, ReadFileReportsAFailedOpen) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer runtime itself needs descriptors (it probes memory through a pipe).
    GTEST_SKIP() << "needs a process free of sanitizer runtimes";
#endif
    testsupport::TempDir dir;
    const std::string path = dir.file("a.sig");
    testsupport::writeFile(path, "x");
    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
    const std::string message = messageOf([&] { Cb::readFile(path); });
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
    EXPECT_EQ("Error loading file " + path + ": Too many open files", message);
}
