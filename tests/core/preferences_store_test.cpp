#include "test_support.hpp"

#include <quotalume/preferences_store.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::TempDir;
using Bytes = PreferencesStore::Bytes;

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

private:
    mode_t previous_;
};

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> entriesOf(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The errno a throwing operation carries, or 0 when it did not throw.
int errnoOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

Bytes allByteValues() {
    Bytes bytes;
    for (int value = 0; value < 256; ++value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

TEST(FilePreferencesStoreTest, ValuesSurviveReopeningAndKeepTheirKind) {
    TempDir dir;
    auto path = dir.path() / "Quotalume" / "defaults.json";
    {
        FilePreferencesStore store(path);
        store.setString("appearance.language", "fr");
        store.setString("empty", "");
        store.setString("unicode", "投递失败：\"quoted\"\n");
        store.setData("settings", allByteValues());
        store.setData("nothing", {});
        for (int length = 1; length <= 4; ++length) {
            store.setData("tail" + std::to_string(length), Bytes(length, 0xFF));
        }
        store.setString("gone", "x");
        store.remove("gone");
    }
    FilePreferencesStore reopened(path);
    EXPECT_EQ(reopened.string("appearance.language"), "fr");
    EXPECT_EQ(reopened.string("empty"), "");
    EXPECT_EQ(reopened.string("unicode"), "投递失败：\"quoted\"\n");
    EXPECT_EQ(reopened.data("settings"), allByteValues());
    EXPECT_EQ(reopened.data("nothing"), Bytes{});
    for (int length = 1; length <= 4; ++length) {
        EXPECT_EQ(reopened.data("tail" + std::to_string(length)), Bytes(length, 0xFF));
    }
    EXPECT_EQ(reopened.string("gone"), std::nullopt);
    // A key holds one kind of value; asking for the other kind reads as absent.
    EXPECT_EQ(reopened.data("appearance.language"), std::nullopt);
    EXPECT_EQ(reopened.string("settings"), std::nullopt);
    EXPECT_FALSE(reopened.hasUnreadableFile());
}

TEST(FilePreferencesStoreTest, WritesTheDocumentedJsonForm) {
    TempDir dir;
    FilePreferencesStore store(dir.path() / "defaults.json");
    store.setString("appearance.language", "de");
    store.setData("settings", Bytes{'{', '}'});
    EXPECT_EQ(json::parse(dir.read("defaults.json")),
              json::parse(R"({"appearance.language":"de","settings":{"data":"e30="}})"));
}

TEST(FilePreferencesStoreTest, FileIsOwnerOnlyWhateverTheUmask) {
    TempDir dir;
    ScopedUmask permissive(0);
    auto folder = dir.path() / "config" / "Quotalume";
    FilePreferencesStore store(folder / "defaults.json");
    store.setString("k", "v");
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(dir.path() / "config"), 0700u);
    EXPECT_EQ(modeOf(folder / "defaults.json"), 0600u);

    // A file left readable by others is replaced by an owner-only one.
    ::chmod((folder / "defaults.json").c_str(), 0644);
    store.setString("k", "w");
    EXPECT_EQ(modeOf(folder / "defaults.json"), 0600u);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"defaults.json"});
}

TEST(FilePreferencesStoreTest, TemporaryFileIsNeverWiderThanOwnerOnly) {
    TempDir dir;
    ScopedUmask permissive(0);
    auto path = dir.path() / "defaults.json";
    std::vector<mode_t> seen;
    auto operations = FilePreferencesStore::FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) {
        struct stat status {};
        ::fstat(fd, &status);
        seen.push_back(status.st_mode & 07777);
        return ::write(fd, data, size);
    };
    FilePreferencesStore store(path, operations);
    store.setString("k", "v");
    ASSERT_FALSE(seen.empty());
    for (mode_t mode : seen) {
        EXPECT_EQ(mode, 0600u);
    }
}

TEST(FilePreferencesStoreTest, ShortWritesAndInterruptionsStillWriteEverything) {
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    int calls = 0;
    auto operations = FilePreferencesStore::FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<std::size_t>(size, 3));
    };
    FilePreferencesStore store(path, operations);
    store.setString("language", "a fairly long value to need many writes");
    EXPECT_EQ(FilePreferencesStore(path).string("language"),
              "a fairly long value to need many writes");
}

enum class FailingStep { write, fsync, rename };

class FilePreferencesStoreFailure : public ::testing::TestWithParam<FailingStep> {};

TEST_P(FilePreferencesStoreFailure, LeavesFileAndValuesAsTheyWere) {
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    FilePreferencesStore(path).setString("k", "old");
    std::string before = dir.read("defaults.json");

    auto operations = FilePreferencesStore::FileOperations::system();
    int injected = 0;
    switch (GetParam()) {
        case FailingStep::write:
            injected = ENOSPC;
            operations.write = [](int, const void*, std::size_t) -> ssize_t {
                errno = ENOSPC;
                return -1;
            };
            break;
        case FailingStep::fsync:
            injected = EIO;
            operations.fsync = [](int) {
                errno = EIO;
                return -1;
            };
            break;
        case FailingStep::rename:
            injected = EXDEV;
            operations.rename = [](const char*, const char*) {
                errno = EXDEV;
                return -1;
            };
            break;
    }
    FilePreferencesStore store(path, operations);
    EXPECT_EQ(errnoOf([&] { store.setString("k", "new"); }), injected);
    EXPECT_EQ(errnoOf([&] { store.remove("k"); }), injected);
    EXPECT_EQ(store.string("k"), "old");
    EXPECT_EQ(dir.read("defaults.json"), before);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"defaults.json"});
}

INSTANTIATE_TEST_SUITE_P(Steps, FilePreferencesStoreFailure,
                         ::testing::Values(FailingStep::write, FailingStep::fsync,
                                           FailingStep::rename));

TEST(FilePreferencesStoreTest, UnusablePathsFailWithTheirErrno) {
    TempDir dir;
    // The folder cannot be created: a regular file stands where it should be.
    dir.write("blocker", "not a folder");
    FilePreferencesStore underFile(dir.path() / "blocker" / "Quotalume" / "defaults.json");
    EXPECT_EQ(errnoOf([&] { underFile.setString("k", "v"); }), ENOTDIR);
    EXPECT_EQ(underFile.string("k"), std::nullopt);

    // The file's path is taken by a folder: it reads as empty and the write fails cleanly.
    fs::create_directories(dir.path() / "taken" / "defaults.json" / "inside");
    FilePreferencesStore taken(dir.path() / "taken" / "defaults.json");
    EXPECT_FALSE(taken.hasUnreadableFile());
    EXPECT_EQ(errnoOf([&] { taken.setString("k", "v"); }), EISDIR);
    EXPECT_EQ(entriesOf(dir.path() / "taken"), std::vector<std::string>{"defaults.json"});
    EXPECT_TRUE(fs::exists(dir.path() / "taken" / "defaults.json" / "inside"));
}

TEST(FilePreferencesStoreTest, ReadOnlyFolderFailsWithEacces) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    FilePreferencesStore(path).setString("k", "old");
    ::chmod(dir.path().c_str(), 0500);
    FilePreferencesStore store(path);
    EXPECT_EQ(errnoOf([&] { store.setString("k", "new"); }), EACCES);
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(FilePreferencesStore(path).string("k"), "old");
}

TEST(FilePreferencesStoreTest, TextThatIsNotUtf8IsRefusedWithoutWriting) {
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    FilePreferencesStore store(path);
    store.setString("k", "old");
    EXPECT_EQ(errnoOf([&] { store.setString("k", "\xC3\x28"); }), EILSEQ);
    EXPECT_EQ(errnoOf([&] { store.setString("\xFF", "v"); }), EILSEQ);
    EXPECT_EQ(store.string("k"), "old");
    EXPECT_EQ(FilePreferencesStore(path).string("k"), "old");
}

struct CorruptCase {
    const char* name;
    std::string content;
};

class CorruptPreferencesFile : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptPreferencesFile, ReadsEmptyAndIsKeptAsBackupOnTheFirstWrite) {
    TempDir dir;
    auto path = dir.write("defaults.json", GetParam().content);
    FilePreferencesStore store(path);
    EXPECT_TRUE(store.hasUnreadableFile());
    EXPECT_EQ(store.string("k"), std::nullopt);
    EXPECT_EQ(dir.read("defaults.json"), GetParam().content);

    store.setString("k", "v");
    EXPECT_FALSE(store.hasUnreadableFile());
    auto names = entriesOf(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "defaults.json");
    EXPECT_THAT(names[1], ::testing::StartsWith("defaults.json.corrupt-"));
    EXPECT_EQ(dir.read(names[1]), GetParam().content);
    EXPECT_EQ(json::parse(dir.read("defaults.json")), json({{"k", "v"}}));

    // Only the first write moves anything aside.
    store.setString("k", "w");
    EXPECT_EQ(entriesOf(dir.path()).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CorruptPreferencesFile,
    ::testing::Values(CorruptCase{"NotJson", "{\"k\": "}, CorruptCase{"Array", "[1, 2]"},
                      CorruptCase{"String", "\"k\""}, CorruptCase{"WhiteSpace", " \n"},
                      CorruptCase{"Binary", std::string("\0\xFF\xFEk", 4)},
                      CorruptCase{"InvalidUtf8Member", "{\"k\": \"\xC3\x28\"}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FilePreferencesStoreTest, FailedWriteAfterCorruptReadKeepsTheFileInPlace) {
    TempDir dir;
    auto path = dir.write("defaults.json", "{broken");
    auto operations = FilePreferencesStore::FileOperations::system();
    operations.rename = [](const char*, const char*) {
        errno = EROFS;
        return -1;
    };
    FilePreferencesStore store(path, operations);
    EXPECT_EQ(errnoOf([&] { store.setString("k", "v"); }), EROFS);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(dir.read("defaults.json"), "{broken");
    EXPECT_TRUE(store.hasUnreadableFile());
}

TEST(FilePreferencesStoreTest, BackupsNeverReplaceEarlierOnes) {
    TempDir dir;
    for (const char* content : {"{first", "{second", "{third"}) {
        auto path = dir.write("defaults.json", content);
        FilePreferencesStore(path).setString("k", "v");
    }
    std::vector<std::string> backups;
    for (const auto& name : entriesOf(dir.path())) {
        if (name != "defaults.json") {
            backups.push_back(dir.read(name));
        }
    }
    std::sort(backups.begin(), backups.end());
    EXPECT_EQ(backups, (std::vector<std::string>{"{first", "{second", "{third"}));
}

TEST(FilePreferencesStoreTest, UnreadableFileIsKeptAsBackup) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir dir;
    auto path = dir.write("defaults.json", R"({"k":"secret"})");
    ::chmod(path.c_str(), 0);
    FilePreferencesStore store(path);
    EXPECT_TRUE(store.hasUnreadableFile());
    EXPECT_EQ(store.string("k"), std::nullopt);
    store.setString("other", "v");
    EXPECT_EQ(entriesOf(dir.path()).size(), 2u);
}

TEST(FilePreferencesStoreTest, MembersOfUnknownFormAreKeptVerbatim) {
    TempDir dir;
    auto path = dir.write("defaults.json",
                          R"({"count": 5, "odd": {"data": "not base64!"}, "list": [1], "s": "t"})");
    FilePreferencesStore store(path);
    EXPECT_FALSE(store.hasUnreadableFile());
    EXPECT_EQ(store.string("s"), "t");
    EXPECT_EQ(store.string("count"), std::nullopt);
    EXPECT_EQ(store.data("odd"), std::nullopt);

    store.setString("new", "n");
    store.remove("list");
    EXPECT_EQ(json::parse(dir.read("defaults.json")),
              json::parse(R"({"count": 5, "odd": {"data": "not base64!"}, "s": "t", "new": "n"})"));
    store.setString("count", "six");
    EXPECT_EQ(json::parse(dir.read("defaults.json"))["count"], "six");
}

TEST(FilePreferencesStoreTest, ConcurrentWritersLoseNothing) {
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    FilePreferencesStore store(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 10; ++i) {
                std::string key = std::to_string(t) + "." + std::to_string(i);
                store.setString(key, key);
                EXPECT_EQ(store.string(key), key);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(json::parse(dir.read("defaults.json")).size(), 40u);
}

struct DefaultPathCase {
    const char* name;
    std::map<std::string, std::string> environment;
    const char* expected;
};

class PreferencesDefaultPath : public ::testing::TestWithParam<DefaultPathCase> {};

TEST_P(PreferencesDefaultPath, FollowsXdgConfigHome) {
    const auto& environment = GetParam().environment;
    auto lookup = [&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found != environment.end() ? found->second.c_str() : nullptr;
    };
    EXPECT_EQ(FilePreferencesStore::defaultPath(lookup), fs::path(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Environments, PreferencesDefaultPath,
    ::testing::Values(
        DefaultPathCase{"Absolute",
                        {{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}},
                        "/cfg/Quotalume/defaults.json"},
        DefaultPathCase{"Unset", {{"HOME", "/home/u"}}, "/home/u/.config/Quotalume/defaults.json"},
        DefaultPathCase{"Empty",
                        {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}},
                        "/home/u/.config/Quotalume/defaults.json"},
        DefaultPathCase{"Relative",
                        {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}},
                        "/home/u/.config/Quotalume/defaults.json"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PreferencesStoreTest, StandardStoreCanBeOverriddenAndRestored) {
    auto outer = std::make_shared<MemoryPreferencesStore>();
    {
        ScopedStandardPreferences scopedOuter(outer);
        EXPECT_EQ(PreferencesStore::standard(), outer);
        {
            auto inner = std::make_shared<MemoryPreferencesStore>();
            ScopedStandardPreferences scopedInner(inner);
            PreferencesStore::standard()->setString("k", "inner");
            EXPECT_EQ(inner->string("k"), "inner");
        }
        EXPECT_EQ(PreferencesStore::standard(), outer);
        EXPECT_EQ(outer->string("k"), std::nullopt);
    }
    EXPECT_NE(PreferencesStore::standard(), outer);
}

}  // namespace
}  // namespace quotalume
