#include <quotalume/private_file.hpp>

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::entriesOf;
using test::errnoOf;
using test::modeOf;
using test::TempDir;

TEST(PrivateFileTest, OwnerOnlyFromTheFirstByteAndCompleteDespiteShortWrites) {
    TempDir dir;
    test::ScopedUmask permissive(0);
    const fs::path path = dir.path() / "config" / "Quotalume" / "state.json";
    struct stat status {};  // of the temporary as its bytes are written
    int calls = 0;
    auto operations = FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        ::fstat(fd, &status);
        if (++calls % 2 == 0) {  // every other call is interrupted, the others write 3 bytes
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<std::size_t>(size, 3));
    };
    replaceFileAtomically(path, "long enough for many writes", ".state.tmp", operations);
    EXPECT_EQ(dir.read("config/Quotalume/state.json"), "long enough for many writes");
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(modeOf(dir.path() / "config"), 0700u);
    EXPECT_EQ(modeOf(path.parent_path()), 0700u);

    ::chmod(path.parent_path().c_str(), 0755);
    replaceFileAtomically(path, "second", ".state.tmp");
    EXPECT_EQ(modeOf(path.parent_path()), 0755u);  // an existing folder keeps its own mode
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(PrivateFileTest, AFailedStepLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const auto file = dir.write("f", "old");
    for (const auto& fault : test::writeFaults()) {
        SCOPED_TRACE(fault.name);
        EXPECT_EQ(errnoOf([&] { replaceFileAtomically(file, "new", ".f", fault.operations); }),
                  fault.error);
        EXPECT_EQ(dir.read("f"), "old");
        EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"f"});
    }

    // A temporary of that name already there is another writer's: it stays.
    dir.write(".f", "theirs");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(file, "new", ".f"); }), EEXIST);
    EXPECT_EQ(dir.read(".f"), "theirs");
    fs::remove(dir.path() / ".f");

    // Real failures: a file where a folder should be, a folder in the file's place.
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(file / "Quotalume/f", "x", ".f"); }), ENOTDIR);
    fs::create_directories(dir.path() / "taken" / "f" / "inside");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(dir.path() / "taken/f", "x", ".f"); }), EISDIR);
    EXPECT_EQ(entriesOf(dir.path() / "taken"), std::vector<std::string>{"f"});
    EXPECT_EQ(dir.read("f"), "old");
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
    const std::pair<std::map<std::string, const char*>, const char*> cases[] = {
        {{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}}, "/data"},
        {{{"XDG_DATA_HOME", "relative/data"}, {"HOME", "/home/u"}}, "/home/u/.local/share"},
        {{{"HOME", "/home/u"}}, "/home/u/.local/share"},
    };
    for (const auto& [variables, expected] : cases) {
        auto environment = [&](const char* name) -> const char* {
            auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second;
        };
        EXPECT_EQ(xdgDirectory("XDG_DATA_HOME", ".local/share", environment), expected);
    }
}

}  // namespace
}  // namespace quotalume
