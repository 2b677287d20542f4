#include <quotalume/support/private_file.hpp>

#include "failed_save_contract.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::entriesOf;
using test::errnoOf;
using test::FailedSaveTest;
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

INSTANTIATE_TEST_SUITE_P(PrivateFile, FailedSaveTest,
                         ::testing::Values(test::SavingWriter{
                             "replaceFileAtomically", "f", "old",
                             [](const fs::path& folder, const FileOperations& operations) {
                                 return std::to_string(errnoOf([&] {
                                     replaceFileAtomically(folder / "f", "new", ".f", operations);
                                 }));
                             }}),
                         test::writerName);

TEST(PrivateFileTest, LeavesAnotherWritersTemporaryAndWhatStandsInTheWay) {
    TempDir dir;
    const auto file = dir.write("f", "old");
    dir.write(".f", "theirs");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(file, "new", ".f"); }), EEXIST);
    EXPECT_EQ(dir.read(".f"), "theirs");
    // A file where a folder should be, a folder in the file's place.
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(file / "Quotalume/f", "x", ".f"); }), ENOTDIR);
    fs::create_directories(dir.path() / "taken" / "f" / "inside");
    EXPECT_EQ(errnoOf([&] { replaceFileAtomically(dir.path() / "taken/f", "x", ".f"); }), EISDIR);
    EXPECT_EQ(entriesOf(dir.path() / "taken"), std::vector<std::string>{"f"});
    EXPECT_EQ(dir.read("f"), "old");
}

TEST(PrivateFileTest, XdgDirectoriesFallBackToTheHome) {
    auto dataHome = [](std::map<std::string, std::string> environment) {
        environment["HOME"] = "/home/u";
        return xdgDirectory("XDG_DATA_HOME", ".local/share", test::environmentOf(environment));
    };
    EXPECT_EQ(dataHome({{"XDG_DATA_HOME", "/data"}}), "/data");
    EXPECT_EQ(dataHome({{"XDG_DATA_HOME", "relative/data"}}), "/home/u/.local/share");
    EXPECT_EQ(dataHome({}), "/home/u/.local/share");
}

}  // namespace
}  // namespace quotalume
