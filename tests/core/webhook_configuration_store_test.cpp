#include "fixtures.hpp"
#include "test_support.hpp"

#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <sys/stat.h>

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

    // The credentials are never left readable by others: a widened file is narrowed on load.
    ::chmod(store.url().c_str(), 0644);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(test::modeOf(store.url()), 0600u);

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
        temp.write("webhook.json", content);
        EXPECT_EQ(failureOf([&] { store.load(); }), failure("error.config_read", code)) << content;
        EXPECT_EQ(temp.read("webhook.json"), content);
    }

    TempDir temp;
    fs::create_directory(temp.path() / "webhook.json");
    EXPECT_EQ(failureOf([&] { WebhookConfigurationStore(temp.path()).load(); }),
              failure("error.config_read", EISDIR));
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
