#include "test_support.hpp"

#include <quotalume/quotalume_error.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
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

std::vector<std::string> leftovers(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& name : testing::entriesOf(directory)) {
        if (name.starts_with(".webhook-")) {
            names.push_back(name);
        }
    }
    return names;
}

TEST(WebhookConfigurationStoreTest, MissingFileLoadsTheDefaultAndCreatesNothing) {
    TempDir temp;
    WebhookConfigurationStore store(temp.path() / "data" / "Quotalume");
    EXPECT_EQ(store.load(), WebhookConfiguration{});
    EXPECT_EQ(store.load().format, WebhookFormat::json);
    EXPECT_FALSE(fs::exists(temp.path() / "data"));
    EXPECT_EQ(store.url(), temp.path() / "data" / "Quotalume" / "webhook.json");
    auto environment = [](const char* name) -> const char* {
        return std::string(name) == "HOME" ? "/home/u" : nullptr;
    };
    EXPECT_EQ(WebhookConfigurationStore::defaultDirectory(environment), "/home/u/.local/share/Quotalume");
}

TEST(WebhookConfigurationStoreTest, SaveWritesOneSortedMemberPerLineOwnerOnly) {
    TempDir temp;
    testing::ScopedUmask permissive(0);
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
    EXPECT_EQ(testing::modeOf(temp.path() / "data"), 0700u);
    EXPECT_EQ(testing::modeOf(directory), 0700u);
    EXPECT_EQ(testing::modeOf(store.url()), 0600u);
    EXPECT_TRUE(leftovers(directory).empty());

    // Replacing keeps it owner-only; an existing folder keeps its own mode.
    fs::permissions(directory, fs::perms(0755));
    WebhookConfiguration changed = sample;
    changed.format = WebhookFormat::json;
    store.save(changed);
    EXPECT_EQ(store.load(), changed);
    EXPECT_EQ(testing::modeOf(directory), 0755u);
    EXPECT_EQ(testing::modeOf(store.url()), 0600u);
    EXPECT_TRUE(leftovers(directory).empty());
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

TEST(WebhookConfigurationStoreTest, FailedSaveLeavesTheOldFileAndNoTemporary) {
    {
        TempDir temp;
        WebhookConfigurationStore(temp.path()).save(sample);
        const std::string before = temp.read("webhook.json");
        auto operations = WebhookConfigurationStore::FileOperations::system();
        std::string temporaryName;
        operations.fsync = [&](int fd) {
            temporaryName = fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename();
            errno = EIO;
            return -1;
        };
        WebhookConfiguration changed = sample;
        changed.url = "https://example.com/other";
        EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path(), operations).save(changed); }),
                  LocalizedMessage("error.config_write", {std::to_string(EIO)}));
        EXPECT_EQ(temp.read("webhook.json"), before);
        EXPECT_TRUE(leftovers(temp.path()).empty());
        // ".webhook-" + a canonical upper-case UUID + ".tmp"
        EXPECT_EQ(temporaryName.size(), 9u + 36 + 4) << temporaryName;
        EXPECT_TRUE(temporaryName.starts_with(".webhook-") && temporaryName.ends_with(".tmp")) << temporaryName;
        EXPECT_EQ(temporaryName.substr(9, 36).find_first_of("abcdef"), std::string::npos) << temporaryName;
    }

    // Real failures: a file where the folder should be, a folder in the file's place, and text
    // that is not UTF-8.
    TempDir temp;
    temp.write("plain", "a file, not a folder");
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path() / "plain" / "Quotalume").save(sample); }),
              LocalizedMessage("error.config_write", {std::to_string(ENOTDIR)}));
    EXPECT_EQ(temp.read("plain"), "a file, not a folder");
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

}  // namespace
}  // namespace quotalume
