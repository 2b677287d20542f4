#include <quotalume/private_file.hpp>

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using testing::entriesOf;
using testing::errnoOf;
using testing::modeOf;
using testing::TempDir;

TEST(PrivateFileTest, OwnerOnlyFromTheFirstByteWhateverTheUmask) {
    TempDir dir;
    testing::ScopedUmask permissive(0);
    const fs::path path = dir.path() / "config" / "Quotalume" / "state.json";
    std::vector<mode_t> seen;
    auto operations = FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) {
        struct stat status {};
        ::fstat(fd, &status);
        seen.push_back(status.st_mode & 07777);
        return ::write(fd, data, size);
    };
    replaceFileAtomically(path, "first", ".state.tmp", operations);
    EXPECT_EQ(dir.read("config/Quotalume/state.json"), "first");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], 0600u);
    EXPECT_EQ(modeOf(dir.path() / "config"), 0700u);
    EXPECT_EQ(modeOf(path.parent_path()), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);

    // A file left readable by others is replaced by an owner-only one; an existing folder
    // keeps its own mode.
    ::chmod(path.c_str(), 0644);
    ::chmod(path.parent_path().c_str(), 0755);
    replaceFileAtomically(path, "second", ".state.tmp");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(path.parent_path()), 0755u);
    EXPECT_EQ(entriesOf(path.parent_path()), std::vector<std::string>{"state.json"});
}

TEST(PrivateFileTest, ShortWritesAndInterruptionsStillWriteEverything) {
    TempDir dir;
    int calls = 0;
    auto operations = FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<std::size_t>(size, 3));
    };
    replaceFileAtomically(dir.path() / "f", "a value long enough to need many writes", ".f.tmp", operations);
    EXPECT_EQ(dir.read("f"), "a value long enough to need many writes");
}

TEST(PrivateFileTest, AFailedStepLeavesTheOldFileAndNoTemporary) {
    auto failing = [](int step, int error) {
        auto operations = FileOperations::system();
        auto fail = [error] {
            errno = error;
            return -1;
        };
        if (step == 0) operations.write = [fail](int, const void*, std::size_t) -> ssize_t { return fail(); };
        if (step == 1) operations.write = [](int, const void*, std::size_t) -> ssize_t { return 0; };
        if (step == 2) operations.fsync = [fail](int) { return fail(); };
        if (step == 3) operations.rename = [fail](const char*, const char*) { return fail(); };
        return operations;
    };
    const std::pair<int, int> cases[] = {{0, ENOSPC}, {1, EIO}, {2, EIO}, {3, EXDEV}};
    for (auto [step, error] : cases) {
        TempDir dir;
        dir.write("f", "old");
        EXPECT_EQ(errnoOf([&] { replaceFileAtomically(dir.path() / "f", "new", ".f.tmp", failing(step, error)); }),
                  error)
            << step;
        EXPECT_EQ(dir.read("f"), "old");
        EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"f"});
    }

    // Real failures: a file where a folder should be, a folder in the file's place.
    TempDir dir;
    dir.write("blocker", "not a folder");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(dir.path() / "blocker/Quotalume/f", "x", ".f.tmp"); }), ENOTDIR);
    fs::create_directories(dir.path() / "taken" / "f" / "inside");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(dir.path() / "taken/f", "x", ".f.tmp"); }), EISDIR);
    EXPECT_EQ(entriesOf(dir.path() / "taken"), std::vector<std::string>{"f"});
    EXPECT_EQ(dir.read("blocker"), "not a folder");
}

TEST(PrivateFileTest, ReadsOnlySmallRegularFiles) {
    TempDir dir;
    EXPECT_EQ(readSmallFile(dir.path() / "missing", 10), std::nullopt);
    dir.write("plain", "content");
    EXPECT_EQ(readSmallFile(dir.path() / "plain/below", 10), std::nullopt);
    EXPECT_EQ(readSmallFile(dir.path() / "plain", 10), "content");
    EXPECT_EQ(errnoOf([&] { readSmallFile(dir.path() / "plain", 3); }), EFBIG);
    EXPECT_EQ(errnoOf([&] { readSmallFile(dir.path(), 10); }), EISDIR);
    // A FIFO must not block the reader waiting for a writer.
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(errnoOf([&] { readSmallFile(dir.path() / "fifo", 10); }), EINVAL);
}

TEST(PrivateFileTest, XdgDirectoriesFallBackToTheHome) {
    const std::map<std::string, const char*> cases[] = {
        {{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}},
        {{"XDG_DATA_HOME", ""}, {"HOME", "/home/u"}},
        {{"XDG_DATA_HOME", "relative/data"}, {"HOME", "/home/u"}},
        {{"HOME", "/home/u"}},
    };
    const char* expected[] = {"/data", "/home/u/.local/share", "/home/u/.local/share", "/home/u/.local/share"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto environment = [&](const char* name) -> const char* {
            auto found = cases[i].find(name);
            return found == cases[i].end() ? nullptr : found->second;
        };
        EXPECT_EQ(xdgDirectory("XDG_DATA_HOME", ".local/share", environment), expected[i]);
    }
}

}  // namespace
}  // namespace quotalume
