#include "test_support.hpp"

#include <quotalume/quotalume_error.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const WebhookConfiguration sample{"https://example.com/hooks/a?b=c", WebhookFormat::feishu,
                                  "tok/en \"quoted\"", "sécret"};

// The message of the QuotalumeError the call throws; an empty key when it throws nothing.
template <typename Call>
LocalizedMessage failureOf(Call call) {
    try {
        call();
    } catch (const QuotalumeError& error) {
        EXPECT_EQ(error.errorCase(), QuotalumeError::Case::webhook);
        return error.userMessage();
    }
    return LocalizedMessage();
}

unsigned mode(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::vector<std::string> leftovers(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().filename().string().starts_with(".webhook-")) {
            names.push_back(entry.path().filename());
        }
    }
    return names;
}

// ".webhook-" + an upper-case canonical UUID + ".tmp"
bool isTemporaryName(const std::string& name) {
    const std::string prefix = ".webhook-", suffix = ".tmp";
    if (name.size() != prefix.size() + 36 + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    for (std::size_t i = 0; i < 36; ++i) {
        char c = name[prefix.size() + i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

TEST(WebhookConfigurationStoreTest, MissingFileLoadsTheDefaultAndCreatesNothing) {
    TempDir temp;
    WebhookConfigurationStore store(temp.path() / "data" / "Quotalume");
    EXPECT_EQ(store.load(), WebhookConfiguration{});
    EXPECT_EQ(store.load().format, WebhookFormat::json);
    EXPECT_FALSE(fs::exists(temp.path() / "data"));
    EXPECT_EQ(store.url(), temp.path() / "data" / "Quotalume" / "webhook.json");
}

TEST(WebhookConfigurationStoreTest, SaveWritesOneSortedMemberPerLineOwnerOnly) {
    TempDir temp;
    UmaskScope permissive(0);
    const fs::path directory = temp.path() / "data" / "Quotalume";
    WebhookConfigurationStore store(directory);
    store.save(sample);

    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(temp.read("data/Quotalume/webhook.json"),
              "{\n"
              "  \"bearerToken\": \"tok/en \\\"quoted\\\"\",\n"
              "  \"format\": \"feishu\",\n"
              "  \"signingSecret\": \"sécret\",\n"
              "  \"url\": \"https://example.com/hooks/a?b=c\"\n"
              "}\n");
    EXPECT_EQ(mode(temp.path() / "data"), 0700u);
    EXPECT_EQ(mode(directory), 0700u);
    EXPECT_EQ(mode(store.url()), 0600u);
    EXPECT_TRUE(leftovers(directory).empty());

    // Replacing keeps it owner-only; an existing folder keeps its own mode.
    fs::permissions(directory, fs::perms(0755));
    WebhookConfiguration changed = sample;
    changed.format = WebhookFormat::json;
    store.save(changed);
    EXPECT_EQ(store.load(), changed);
    EXPECT_EQ(mode(directory), 0755u);
    EXPECT_EQ(mode(store.url()), 0600u);
    EXPECT_TRUE(leftovers(directory).empty());
}

TEST(WebhookConfigurationStoreTest, TemporaryFileIsOwnerOnlyFromTheStart) {
    TempDir temp;
    UmaskScope permissive(0);
    std::vector<std::pair<std::string, unsigned>> seen;
    auto operations = WebhookConfigurationStore::FileOperations::system();
    operations.write = [&](int fd, const void* data, std::size_t size) {
        struct stat status {};
        ::fstat(fd, &status);
        fs::path name = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename();
        seen.emplace_back(name, status.st_mode & 07777);
        return ::write(fd, data, size);
    };
    WebhookConfigurationStore(temp.path(), operations).save(sample);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(isTemporaryName(seen[0].first)) << seen[0].first;
    EXPECT_EQ(seen[0].second, 0600u);
}

TEST(WebhookConfigurationStoreTest, UnreadableFilesFailWithTheirCodeAndStayAsTheyWere) {
    const struct {
        const char* content;
        int code;
    } cases[] = {
        {"", 3840},
        {"not json", 3840},
        {R"({"bearerToken": "a", "form)", 3840},
        {"\xFF\xFE{}", 3840},
        {"[]", 4864},
        {R"({"url": "https://example.com/hook"})", 4865},
        {R"({"bearerToken": null, "format": "json", "signingSecret": "", "url": ""})", 4865},
        {R"({"bearerToken": "", "format": "xml", "signingSecret": "", "url": ""})", 4864},
        {R"({"bearerToken": "", "format": "json", "signingSecret": 7, "url": ""})", 4864},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        TempDir temp;
        temp.write("webhook.json", c.content);
        LocalizedMessage failure =
            failureOf([&] { WebhookConfigurationStore(temp.path()).load(); });
        EXPECT_EQ(failure, LocalizedMessage("error.config_read", {std::to_string(c.code)}));
        EXPECT_EQ(temp.read("webhook.json"), c.content);
    }

    TempDir temp;
    fs::create_directory(temp.path() / "webhook.json");
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path()).load(); }),
              LocalizedMessage("error.config_read", {std::to_string(EISDIR)}));
}

TEST(WebhookConfigurationStoreTest, BlockedFoldersFailToSave) {
    TempDir temp;
    temp.write("plain", "a file, not a folder");
    for (const fs::path& directory : {temp.path() / "plain", temp.path() / "plain" / "Quotalume"}) {
        SCOPED_TRACE(directory);
        EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(directory).save(sample); }),
                  LocalizedMessage("error.config_write", {std::to_string(ENOTDIR)}));
    }
    EXPECT_EQ(temp.read("plain"), "a file, not a folder");
}

TEST(WebhookConfigurationStoreTest, FailedSaveLeavesTheOldFileAndNoTemporary) {
    auto failing = [](const char* step, int error) {
        auto operations = WebhookConfigurationStore::FileOperations::system();
        auto fail = [error] {
            errno = error;
            return -1;
        };
        if (std::string(step) == "write") {
            operations.write = [fail](int, const void*, std::size_t) -> ssize_t { return fail(); };
        } else if (std::string(step) == "fsync") {
            operations.fsync = [fail](int) { return fail(); };
        } else {
            operations.rename = [fail](const char*, const char*) { return fail(); };
        }
        return operations;
    };
    const struct {
        const char* step;
        int error;
    } cases[] = {{"write", ENOSPC}, {"fsync", EIO}, {"rename", EXDEV}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        TempDir temp;
        WebhookConfigurationStore(temp.path()).save(sample);
        const std::string before = temp.read("webhook.json");
        WebhookConfiguration changed = sample;
        changed.url = "https://example.com/other";
        EXPECT_EQ(
            failureOf([&] {
                WebhookConfigurationStore(temp.path(), failing(c.step, c.error)).save(changed);
            }),
            LocalizedMessage("error.config_write", {std::to_string(c.error)}));
        EXPECT_EQ(temp.read("webhook.json"), before);
        EXPECT_TRUE(leftovers(temp.path()).empty());
    }

    // Real failures: a folder in the file's place, and text that is not UTF-8.
    TempDir temp;
    fs::create_directories(temp.path() / "webhook.json" / "occupied");
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path()).save(sample); }),
              LocalizedMessage("error.config_write", {std::to_string(EISDIR)}));
    EXPECT_TRUE(leftovers(temp.path()).empty());

    WebhookConfiguration notUTF8 = sample;
    notUTF8.bearerToken = "\xC3";
    TempDir other;
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(other.path()).save(notUTF8); }),
              LocalizedMessage("error.config_write", {std::to_string(EILSEQ)}));
    EXPECT_TRUE(fs::is_empty(other.path()));
}

TEST(WebhookConfigurationStoreTest, ReadOnlyFolderFailsToSaveAndKeepsTheOldFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    TempDir temp;
    WebhookConfigurationStore store(temp.path());
    store.save(sample);
    fs::permissions(temp.path(), fs::perms(0500));
    WebhookConfiguration changed = sample;
    changed.bearerToken = "new";
    EXPECT_EQ(failureOf([&] { store.save(changed); }),
              LocalizedMessage("error.config_write", {std::to_string(EACCES)}));
    fs::permissions(temp.path(), fs::perms(0700));
    EXPECT_EQ(store.load(), sample);
}

TEST(WebhookConfigurationStoreTest, DefaultFolderFollowsXDGDataHome) {
    const std::map<std::string, const char*> cases[] = {
        {{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}},
        {{"XDG_DATA_HOME", ""}, {"HOME", "/home/u"}},
        {{"XDG_DATA_HOME", "relative/data"}, {"HOME", "/home/u"}},
        {{"HOME", "/home/u"}},
    };
    const char* expected[] = {"/data/Quotalume", "/home/u/.local/share/Quotalume",
                              "/home/u/.local/share/Quotalume", "/home/u/.local/share/Quotalume"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto environment = [&](const char* name) -> const char* {
            auto found = cases[i].find(name);
            return found == cases[i].end() ? nullptr : found->second;
        };
        EXPECT_EQ(WebhookConfigurationStore::defaultDirectory(environment), expected[i]);
    }
}

}  // namespace
}  // namespace quotalume
