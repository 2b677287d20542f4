#include <quotalume/preferences_store.hpp>

#include "test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <thread>

namespace quotalume {
namespace {

using nlohmann::json;
using testing::entriesOf;
using testing::errnoOf;
using testing::TempDir;
using Bytes = PreferencesStore::Bytes;

TEST(FilePreferencesStoreTest, ValuesSurviveReopeningAndKeepTheirKind) {
    TempDir dir;
    auto path = dir.path() / "Quotalume" / "defaults.json";
    Bytes everyByte;
    for (int value = 0; value < 256; ++value) {
        everyByte.push_back(static_cast<std::uint8_t>(value));
    }
    {
        FilePreferencesStore store(path);
        store.setString("appearance.language", "fr");
        store.setString("unicode", "投递失败：\"quoted\"\n");
        store.setData("settings", everyByte);
        store.setData("nothing", {});
        store.setData("tail", Bytes(2, 0xFF));
        store.setString("gone", "x");
        store.remove("gone");
    }
    FilePreferencesStore reopened(path);
    EXPECT_EQ(reopened.string("appearance.language"), "fr");
    EXPECT_EQ(reopened.string("unicode"), "投递失败：\"quoted\"\n");
    EXPECT_EQ(reopened.data("settings"), everyByte);
    EXPECT_EQ(reopened.data("nothing"), Bytes{});
    EXPECT_EQ(reopened.data("tail"), Bytes(2, 0xFF));
    EXPECT_EQ(reopened.string("gone"), std::nullopt);
    // A key holds one kind of value; asking for the other kind reads as absent.
    EXPECT_EQ(reopened.data("appearance.language"), std::nullopt);
    EXPECT_EQ(reopened.string("settings"), std::nullopt);
    EXPECT_EQ(testing::modeOf(path), 0600u);

    FilePreferencesStore small(dir.path() / "small.json");
    small.setString("appearance.language", "de");
    small.setData("settings", Bytes{'{', '}'});
    EXPECT_EQ(json::parse(dir.read("small.json")),
              json::parse(R"({"appearance.language":"de","settings":{"data":"e30="}})"));
}

TEST(FilePreferencesStoreTest, FailedWritesChangeNothing) {
    TempDir dir;
    auto path = dir.path() / "defaults.json";
    FilePreferencesStore(path).setString("k", "old");
    auto operations = FileOperations::system();
    operations.rename = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    FilePreferencesStore store(path, operations);
    EXPECT_EQ(errnoOf([&] { store.setString("k", "new"); }), EXDEV);
    EXPECT_EQ(errnoOf([&] { store.remove("k"); }), EXDEV);
    EXPECT_EQ(store.string("k"), "old");
    // Text that is not UTF-8 cannot be stored as JSON and is refused before anything is written.
    FilePreferencesStore plain(path);
    EXPECT_EQ(errnoOf([&] { plain.setString("k", "\xC3\x28"); }), EILSEQ);
    EXPECT_EQ(errnoOf([&] { plain.setString("\xFF", "v"); }), EILSEQ);
    EXPECT_EQ(FilePreferencesStore(path).string("k"), "old");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"defaults.json"});
}

class CorruptPreferencesFile : public ::testing::TestWithParam<std::string> {};

TEST_P(CorruptPreferencesFile, ReadsEmptyAndIsKeptAsBackupOnTheFirstWrite) {
    TempDir dir;
    auto path = dir.write("defaults.json", GetParam());
    FilePreferencesStore store(path);
    EXPECT_TRUE(store.hasUnreadableFile());
    EXPECT_EQ(store.string("k"), std::nullopt);
    EXPECT_EQ(dir.read("defaults.json"), GetParam());

    store.setString("k", "v");
    auto names = entriesOf(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_THAT(names[1], ::testing::StartsWith("defaults.json.corrupt-"));
    EXPECT_EQ(dir.read(names[1]), GetParam());
    EXPECT_EQ(json::parse(dir.read("defaults.json")), json({{"k", "v"}}));
    // Only the first write moves anything aside.
    store.setString("k", "w");
    EXPECT_EQ(entriesOf(dir.path()).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Contents, CorruptPreferencesFile,
                         ::testing::Values("{\"k\": ", "[1, 2]", "\"k\"", " \n", std::string("\0\xFF\xFEk", 4),
                                           "{\"k\": \"\xC3\x28\"}"));

TEST(FilePreferencesStoreTest, CorruptFilesAreNeverLost) {
    TempDir dir;
    // A failed first write puts the unreadable file back.
    auto path = dir.write("defaults.json", "{broken");
    auto operations = FileOperations::system();
    operations.rename = [](const char*, const char*) {
        errno = EROFS;
        return -1;
    };
    FilePreferencesStore failing(path, operations);
    EXPECT_EQ(errnoOf([&] { failing.setString("k", "v"); }), EROFS);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(dir.read("defaults.json"), "{broken");

    // Later backups never replace earlier ones.
    for (const char* content : {"{second", "{third"}) {
        FilePreferencesStore(path).setString("k", "v");
        dir.write("defaults.json", content);
    }
    FilePreferencesStore(path).setString("k", "v");
    std::vector<std::string> backups;
    for (const auto& name : entriesOf(dir.path())) {
        if (name != "defaults.json") {
            backups.push_back(dir.read(name));
        }
    }
    std::sort(backups.begin(), backups.end());
    EXPECT_EQ(backups, (std::vector<std::string>{"{broken", "{second", "{third"}));
}

TEST(FilePreferencesStoreTest, MembersOfUnknownFormAreKeptVerbatim) {
    TempDir dir;
    auto path = dir.write("defaults.json", R"({"count": 5, "odd": {"data": "not base64!"}, "list": [1], "s": "t"})");
    FilePreferencesStore store(path);
    EXPECT_FALSE(store.hasUnreadableFile());
    EXPECT_EQ(store.string("count"), std::nullopt);
    EXPECT_EQ(store.data("odd"), std::nullopt);
    store.setString("new", "n");
    store.remove("list");
    EXPECT_EQ(json::parse(dir.read("defaults.json")),
              json::parse(R"({"count": 5, "odd": {"data": "not base64!"}, "s": "t", "new": "n"})"));
}

TEST(FilePreferencesStoreTest, ConcurrentWritersLoseNothing) {
    TempDir dir;
    FilePreferencesStore store(dir.path() / "defaults.json");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 10; ++i) {
                std::string key = std::to_string(t) + "." + std::to_string(i);
                store.setString(key, key);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(json::parse(dir.read("defaults.json")).size(), 40u);
}

TEST(PreferencesStoreTest, DefaultPathAndOverridableStandardStore) {
    auto environment = [](const char* name) -> const char* {
        return std::string(name) == "HOME" ? "/home/u" : nullptr;
    };
    EXPECT_EQ(FilePreferencesStore::defaultPath(environment), "/home/u/.config/Quotalume/defaults.json");

    auto outer = std::make_shared<MemoryPreferencesStore>();
    {
        ScopedStandardPreferences scopedOuter(outer);
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
