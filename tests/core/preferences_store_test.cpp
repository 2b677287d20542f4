#include <quotalume/preferences/preferences_store.hpp>

#include "failed_save_contract.hpp"

#include <gmock/gmock.h>

#include <numeric>
#include <thread>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::entriesOf;
using test::errnoOf;
using test::FailedSaveTest;
using test::TempDir;
using Bytes = PreferencesStore::Bytes;

TEST(FilePreferencesStoreTest, ValuesSurviveReopeningAndKeepTheirKind) {
    TempDir dir;
    auto path = dir.path() / "Quotalume" / "defaults.json";
    Bytes everyByte(256);
    std::iota(everyByte.begin(), everyByte.end(), 0);
    {
        FilePreferencesStore store(path);
        store.setString("appearance.language", "投递失败：\"quoted\"\n");
        store.setData("settings", everyByte);
        store.setData("nothing", {});
        store.setData("braces", {'{', '}'});
    }
    FilePreferencesStore reopened(path);
    EXPECT_EQ(reopened.string("appearance.language"), "投递失败：\"quoted\"\n");
    EXPECT_EQ(reopened.data("settings"), everyByte);
    EXPECT_EQ(reopened.data("nothing"), Bytes{});
    EXPECT_EQ(reopened.data("braces"), (Bytes{'{', '}'}));
    // A key holds one kind of value; asking for the other kind reads as absent.
    EXPECT_EQ(reopened.data("appearance.language"), std::nullopt);
    EXPECT_EQ(reopened.string("settings"), std::nullopt);
    EXPECT_EQ(test::modeOf(path), 0600u);
    EXPECT_EQ(json::parse(dir.read("Quotalume/defaults.json"))["braces"],
              json::parse(R"({"data": "e30="})"));
}

test::SavingWriter preferencesIn(const char* name, std::string oldContent) {
    return {name, "defaults.json", std::move(oldContent),
            [](const fs::path& folder, const FileOperations& operations) {
                FilePreferencesStore store(folder / "defaults.json", operations);
                const int error = errnoOf([&] { store.setString("k", "new"); });
                return std::to_string(error) + (store.string("k") == "new" ? " yet reads it" : "");
            }};
}

// An unreadable file is one the first write would have moved aside.
INSTANTIATE_TEST_SUITE_P(FilePreferencesStore, FailedSaveTest,
                         ::testing::Values(preferencesIn("readable", R"({"k": "old"})"),
                                           preferencesIn("unreadable", "{broken")),
                         test::writerName);

TEST(FilePreferencesStoreTest, AnUnreadableFileReadsEmptyAndIsKeptAsBackupOnTheFirstWrite) {
    const std::pair<const char*, std::string> cases[] = {
        {"truncated", "{\"k\": "},
        {"array", "[1, 2]"},
        {"blank", " \n"},
        {"not UTF-8", "{\"k\": \"\xC3\x28\"}"},
        // Kept for writing back, it once crashed every write.
        {"too deep", "{\"k\": " + std::string(100000, '[') + std::string(100000, ']') + "}"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        auto path = dir.write("defaults.json", text);
        FilePreferencesStore store(path);
        EXPECT_EQ(store.string("k"), std::nullopt);
        EXPECT_EQ(store.unreadableFile(), path) << "named, so the user can be told";
        // Text that is not UTF-8 cannot be stored as JSON and is refused before anything moves.
        EXPECT_EQ(errnoOf([&] { store.setString("k", "\xC3\x28"); }), EILSEQ);
        EXPECT_EQ(dir.read("defaults.json"), text);

        store.setString("k", "v");
        EXPECT_FALSE(store.unreadableFile());
        auto names = entriesOf(dir.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_THAT(names[1], ::testing::StartsWith("defaults.json.corrupt-"));
        EXPECT_EQ(dir.read(names[1]), text);
        store.setString("k", "w");  // only the first write moves anything aside
        // A later backup, even within the same second, never replaces an earlier one.
        dir.write("defaults.json", text);
        FilePreferencesStore(path).setString("k", "v");
        EXPECT_EQ(entriesOf(dir.path()).size(), 3u);
    }
}

TEST(FilePreferencesStoreTest, MembersOfUnknownFormAreKeptVerbatim) {
    TempDir dir;
    auto path = dir.write("defaults.json",
                          R"({"count": 5, "odd": {"data": "not base64!"}, "list": [1], "s": "t"})");
    FilePreferencesStore store(path);
    EXPECT_FALSE(store.unreadableFile());
    EXPECT_EQ(store.string("count"), std::nullopt);
    EXPECT_EQ(store.data("odd"), std::nullopt);
    store.setString("new", "n");
    store.remove("list");
    store.remove("s");
    EXPECT_EQ(json::parse(dir.read("defaults.json")),
              json::parse(R"({"count": 5, "odd": {"data": "not base64!"}, "new": "n"})"));
}

TEST(FilePreferencesStoreTest, ConcurrentWritersLoseNothing) {
    TempDir dir;
    FilePreferencesStore store(dir.path() / "defaults.json");
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&store, t] {
            for (int i = 0; i < 10; ++i) {
                store.setString(std::to_string(t * 10 + i), "v");
            }
        });
    }
    writers.clear();
    EXPECT_EQ(json::parse(dir.read("defaults.json")).size(), 40u);
}

TEST(PreferencesStoreTest, DefaultPathAndOverridableStandardStore) {
    auto home = [](std::string_view name) { return name == "HOME" ? "/home/u" : nullptr; };
    EXPECT_EQ(FilePreferencesStore::defaultPath(home), "/home/u/.config/Quotalume/defaults.json");

    auto outer = std::make_shared<MemoryPreferencesStore>();
    ScopedStandardPreferences scopedOuter(outer);
    {
        ScopedStandardPreferences scopedInner(std::make_shared<MemoryPreferencesStore>());
        PreferencesStore::standard()->setString("k", "inner");
    }
    EXPECT_EQ(PreferencesStore::standard(), outer);
    EXPECT_EQ(outer->string("k"), std::nullopt);
}

}  // namespace
}  // namespace quotalume
