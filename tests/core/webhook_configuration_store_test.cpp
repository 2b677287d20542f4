#include "test_support.hpp"

#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::entriesOf;
using test::TempDir;

const WebhookConfiguration sample{"https://example.com/hooks/a?b=c", WebhookFormat::feishu,
                                  "tok/en \"quoted\"", "sécret"};

using test::failureOf;

LocalizedMessage failure(const char* key, int code) {
    return LocalizedMessage(key, {std::to_string(code)});
}

TEST(WebhookConfigurationStoreTest, MissingFileIsTheDefaultAndSavesAreSortedAndOwnerOnly) {
    TempDir temp;
    test::ScopedUmask permissive(0);
    const fs::path directory = temp.path() / "data" / "Quotalume";
    WebhookConfigurationStore store(directory);
    EXPECT_EQ(store.load(), WebhookConfiguration{});
    EXPECT_TRUE(fs::is_empty(temp.path()));  // loading created nothing

    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(temp.read("data/Quotalume/webhook.json"),
              "{\n"
              "  \"bearerToken\": \"tok/en \\\"quoted\\\"\",\n"
              "  \"format\": \"feishu\",\n"
              "  \"signingSecret\": \"sécret\",\n"
              "  \"url\": \"https://example.com/hooks/a?b=c\"\n"
              "}\n");
    EXPECT_EQ(test::modeOf(directory), 0700u);
    EXPECT_EQ(test::modeOf(store.url()), 0600u);
    EXPECT_EQ(entriesOf(directory), std::vector<std::string>{"webhook.json"});

    auto home = [](std::string_view name) { return name == "HOME" ? "/home/u" : nullptr; };
    EXPECT_EQ(WebhookConfigurationStore::defaultDirectory(home), "/home/u/.local/share/Quotalume");
}

TEST(WebhookConfigurationStoreTest, UnreadableFilesFailWithTheirCodeAndStayAsTheyWere) {
    const std::string deep =
        "{\"url\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::pair<const char*, int> cases[] = {
        {"", 3840},
        {R"({"bearerToken": "a", "form)", 3840},
        {"[]", 4864},
        {R"({"url": "https://example.com/hook"})", 4865},
        {R"({"bearerToken": null, "format": "json", "signingSecret": "", "url": ""})", 4865},
        {R"({"bearerToken": "", "format": "xml", "signingSecret": "", "url": ""})", 4864},
        {R"({"bearerToken": "", "format": "json", "signingSecret": 7, "url": ""})", 4864},
        {deep.c_str(), 3840},
    };
    for (const auto& [content, code] : cases) {
        TempDir temp;
        WebhookConfigurationStore store(temp.path());
        ::chmod(temp.write("webhook.json", content).c_str(), 0600);
        EXPECT_EQ(failureOf([&] { store.load(); }), failure("error.config_read", code)) << content;
        EXPECT_EQ(temp.read("webhook.json"), content);
    }

    TempDir temp;
    fs::create_directory(temp.path() / "webhook.json");
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path()).load(); }),
              failure("error.config_read", EISDIR));
}

// Credentials others could have read or replaced are refused, and nothing is changed: neither
// the file's mode nor, through a link, the mode of whatever it points to.
TEST(WebhookConfigurationStoreTest, CredentialsOthersCouldTouchAreRefusedUntouched) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& file, const fs::path& outside)> arrange;
        const char* key;
    };
    const Case cases[] = {
        {"readable by all", [](const fs::path& f, const fs::path&) { ::chmod(f.c_str(), 0644); },
         "error.config_shared"},
        {"writable by all", [](const fs::path& f, const fs::path&) { ::chmod(f.c_str(), 0666); },
         "error.config_shared"},
        {"readable by the group",
         [](const fs::path& f, const fs::path&) { ::chmod(f.c_str(), 0640); },
         "error.config_shared"},
        {"a link to a private file",
         [](const fs::path& f, const fs::path& outside) {
             fs::rename(f, outside);
             fs::create_symlink(outside, f);
         },
         "error.config_foreign"},
        {"a link to a shared file",
         [](const fs::path& f, const fs::path& outside) {
             fs::rename(f, outside);
             ::chmod(outside.c_str(), 0644);
             fs::create_symlink(outside, f);
         },
         "error.config_foreign"},
        {"another user's",
         [](const fs::path& f, const fs::path&) { (void)!::chown(f.c_str(), 65534, 65534); },
         "error.config_foreign"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path outside = temp.path() / "elsewhere.json";
        WebhookConfigurationStore store(temp.path() / "data");
        store.save(sample);
        c.arrange(store.url(), outside);
        if (std::string_view(c.name) == "another user's" && ::geteuid() != 0) {
            continue;  // only root can give a file away
        }
        const fs::path target = fs::exists(outside) ? outside : store.url();
        const auto mode = test::modeOf(target);
        EXPECT_EQ(failureOf([&] { store.load(); }),
                  LocalizedMessage(c.key, {store.url().string()}));
        EXPECT_EQ(test::modeOf(target), mode);
        EXPECT_TRUE(fs::is_symlink(store.url()) == fs::exists(outside));
    }
}

TEST(WebhookConfigurationStoreTest, FailedSaveLeavesTheOldFileAndNoTemporary) {
    TempDir temp;
    WebhookConfigurationStore store(temp.path());
    store.save(sample);
    const std::string before = temp.read("webhook.json");
    WebhookConfiguration changed{"https://example.com/other", WebhookFormat::json, "", ""};
    for (const auto& fault : test::writeFaults()) {
        SCOPED_TRACE(fault.name);
        WebhookConfigurationStore failing(temp.path(), fault.operations);
        EXPECT_EQ(failureOf([&] { failing.save(changed); }),
                  failure("error.config_write", fault.error));
        EXPECT_EQ(temp.read("webhook.json"), before);
        EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"webhook.json"});
    }
    auto operations = FileOperations::system();
    std::string temporary;
    operations.rename = [&](const char* from, const char* to) {
        temporary = fs::path(from).filename();
        return ::rename(from, to);
    };
    WebhookConfigurationStore(temp.path(), operations).save(sample);
    const std::regex name(R"(\.webhook-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\.tmp)");
    EXPECT_TRUE(std::regex_match(temporary, name)) << temporary;
    // Text that is not UTF-8 fails before anything is written, and so does a file where the
    // folder should be.
    changed.bearerToken = "\xC3";
    EXPECT_EQ(failureOf([&] { store.save(changed); }), failure("error.config_write", EILSEQ));
    WebhookConfigurationStore blocked(store.url());
    EXPECT_EQ(failureOf([&] { blocked.save(sample); }), failure("error.config_write", ENOTDIR));
    EXPECT_EQ(temp.read("webhook.json"), before);
    EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"webhook.json"});
}

}  // namespace
}  // namespace quotalume
