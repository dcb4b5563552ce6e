// Extension tests, path forms, directory listing, environment variables,
// whole-file reading with their failures, and replacing files whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/factory/Files.h"

using Names = std::vector<std::string>;
using testsupport::messageOf;

TEST(Files, ExtensionsAndPathForms) {
    // Case-sensitive, and only with a stem before the dot.
    for (const auto& [name, ext] : {std::pair{"a.sig", "sig"}, {"b.Sig", "Sig"}, {"/dir/x.y.sig", "sig"}, {"ab.", ""}})
        EXPECT_TRUE(Cb::hasExtension(name, ext)) << name;
    for (const auto& [name, ext] : {std::pair{"b.Sig", "sig"}, {"c.SIG", "sig"}, {"c.SIG", "Sig"}, {"sig", "sig"},
                                    {".sig", "sig"}, {"asig", "sig"}, {"a.sigx", "sig"}, {"", ""}})
        EXPECT_FALSE(Cb::hasExtension(name, ext)) << name;
    // Only the last component loses its extension; native paths use slashes.
    const std::pair<std::string, std::string> cases[] = {
        {"/sig/Fluid", Cb::stripExtension("/sig/Fluid.so")}, {"a.b", Cb::stripExtension("a.b.c")},
        {"noext", Cb::stripExtension("noext")},             {"dir.d/file", Cb::stripExtension("dir.d/file")},
        {"dir.d\\file", Cb::stripExtension("dir.d\\file")}, {"dir.d/", Cb::stripExtension("dir.d/.hidden")},
        {"", Cb::stripExtension(".x")},
        {"/opt/corix/server/standard-sig", Cb::toNativePath("/opt/corix\\server\\standard-sig")},
        {"a/b//c", Cb::toNativePath("a\\b\\/c")},
    };
    for (const auto& [expected, actual] : cases) EXPECT_EQ(expected, actual);
}

TEST(Files, ListingKeepsRegularFilesInByteOrderAndReportsBadFolders) {
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
    EXPECT_EQ((Names{".sig", "Z.sig", "_x", "a.sig", "a.sig~", "b.Sig", "c.SIG", "link.sig", "sig"}), names);
    EXPECT_EQ(names, Cb::listDirectory(dir.path() + "/"));  // a trailing separator names the same folder
    EXPECT_TRUE(Cb::listDirectory(dir.file("sub.sig/empty")).empty());
    EXPECT_TRUE(Cb::listDirectory(dir.path() + "\\server\\user-sig").empty());
    EXPECT_TRUE(Cb::listDirectory(dir.file("a.sig")).empty());
    ASSERT_EQ(0, mkdir(dir.file("empty").c_str(), 0777));
    EXPECT_TRUE(Cb::listDirectory(dir.file("empty")).empty());
    EXPECT_EQ("***** CORIX ERROR: Invalid path: " + dir.file("sub.sig/empty") + "/*\n" +
                  "***** CORIX ERROR: Invalid path: " + dir.path() + "/server/user-sig/*\n" +
                  "***** CORIX ERROR: Invalid path: " + dir.file("a.sig") + "/*\n",
              capture.finish());
}

TEST(Files, GetEnvStripsOneTrailingSeparatorAndTheRootIsRequired) {
    const std::pair<const char*, const char*> cases[] = {{"/opt/corix/", "/opt/corix"}, {"/opt/corix", "/opt/corix"},
                                                         {"C:\\corix\\", "C:\\corix"},   {"/a//", "/a/"},
                                                         {"/", "/"},                     {"", ""},
                                                         {nullptr, ""}};
    for (const auto& [value, expected] : cases) {
        testsupport::ScopedEnv env("CB_TEST_ENV", value);
        EXPECT_EQ(expected, Cb::getEnv("CB_TEST_ENV")) << (value ? value : "unset");
    }
    for (const char* value : {(const char*)nullptr, ""}) {
        testsupport::ScopedEnv env("CORIX_PATH", value);
        EXPECT_EQ("Please set $CORIX_PATH to the Corix root directory.", messageOf([] { Cb::corixRoot(); }));
    }
    testsupport::ScopedEnv env("CORIX_PATH", "/opt/corix/");
    EXPECT_EQ("/opt/corix", Cb::corixRoot());
}

TEST(Files, ReadFileTranslatesLineEndsLikeTextModeAndReportsFailures) {
    testsupport::TempDir dir;
    const std::string path = dir.file("t.sig");
    testsupport::writeFile(path, "a\r\nb\rc\n\r\n\r");
    EXPECT_EQ("a\nb\rc\n\n\r", Cb::readFile(path));
    testsupport::writeFile(path, "");
    EXPECT_EQ("", Cb::readFile(path));
    EXPECT_EQ("", Cb::readFile(dir.path() + "\\t.sig"));  // a separator written the other way
    // Larger than one read buffer, with a zero byte kept and a pair split across buffers.
    std::string big(200000, 'x');
    big[70000] = '\0';
    big[131071] = '\r';
    big[131072] = '\n';
    testsupport::writeFile(path, big);
    EXPECT_EQ(std::string(big).erase(131071, 1), Cb::readFile(path));
    const std::string missing = dir.file("missing.sig");
    EXPECT_EQ("Error loading file " + missing + ": No such file or directory",
              messageOf([&] { Cb::readFile(missing); }));
    EXPECT_EQ("Error loading file " + dir.path() + ": Is a directory", messageOf([&] { Cb::readFile(dir.path()); }));
    EXPECT_EQ("Error loading file /dev/zero: Invalid argument", messageOf([] { Cb::readFile("/dev/zero"); }));
}

// Writing beside a target and putting the result in its place, as the
// converter, ztp2vdb and the Python module do.
TEST(Files, FilesBesideATargetReplaceItWholeAndLeaveNothingBehind) {
    testsupport::TempDir dir;
    const auto entries = [&] {
        Names names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::string target = dir.file("out.txscene");
    const mode_t mask = ::umask(022);
    ::umask(mask);  // read; newFileMode must agree without changing it
    EXPECT_EQ(0666u & ~unsigned(mask), Cb::newFileMode());

    // No target yet: a rename.
    std::string written = Cb::createFileBeside(target);
    EXPECT_EQ(dir.path(), std::filesystem::path(written).parent_path().string());
    EXPECT_EQ(0u, std::filesystem::path(written).filename().string().rfind(".out.txscene.", 0));
    struct stat st;
    ASSERT_EQ(0, ::stat(written.c_str(), &st));
    EXPECT_EQ(Cb::newFileMode(), unsigned(st.st_mode & 07777));
    testsupport::writeFile(written, "first");
    ASSERT_TRUE(Cb::replaceFile(written, target));
    EXPECT_EQ("first", testsupport::readText(target));

    // An existing target, with a second name that keeps the old bytes, as a rename leaves it.
    ASSERT_EQ(0, ::link(target.c_str(), dir.file("kept").c_str()));
    written = Cb::createFileBeside(target);
    testsupport::writeFile(written, "second");
    ASSERT_TRUE(Cb::replaceFile(written, target));
    EXPECT_EQ("second", testsupport::readText(target));
    EXPECT_EQ("first", testsupport::readText(dir.file("kept")));
    EXPECT_EQ((Names{"kept", "out.txscene"}), entries());

    // A folder in the target's place stays, and so does the written file.
    ASSERT_EQ(0, ::mkdir(dir.file("folder").c_str(), 0777));
    written = Cb::createFileBeside(dir.file("folder"));
    EXPECT_FALSE(Cb::replaceFile(written, dir.file("folder")));
    EXPECT_EQ(EISDIR, errno);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder")));
    EXPECT_TRUE(testsupport::fileExists(written));
    std::filesystem::remove(written);

    // A link in the target's place is replaced itself, as rename replaces it.
    ASSERT_EQ(0, ::symlink("kept", dir.file("link").c_str()));
    written = Cb::createFileBeside(dir.file("link"));
    testsupport::writeFile(written, "third");
    ASSERT_TRUE(Cb::replaceFile(written, dir.file("link")));
    EXPECT_FALSE(std::filesystem::is_symlink(dir.file("link")));
    EXPECT_EQ("third", testsupport::readText(dir.file("link")));
    EXPECT_EQ("first", testsupport::readText(dir.file("kept")));

    EXPECT_EQ("Cannot create a file beside " + dir.file("none/x") + ": No such file or directory",
              messageOf([&] { Cb::createFileBeside(dir.file("none/x")); }));
}
