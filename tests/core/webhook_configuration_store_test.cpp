#include "failed_save_contract.hpp"

#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <cerrno>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using test::entriesOf;
using test::FailedSaveTest;
using test::failureOf;
using test::TempDir;

const WebhookConfiguration sample{"https://example.com/hooks/a?b=c", WebhookFormat::feishu,
                                  "tok/en \"quoted\"", "sécret"};

LocalizedMessage failure(const char* key, int code) {
    return LocalizedMessage(key, {std::to_string(code)});
}

TEST(WebhookConfigurationStoreTest, MissingFileIsTheDefaultAndSavesAreSortedAndOwnerOnly) {
    TempDir temp;
    test::ScopedUmask permissive(0);
    const fs::path directory = temp.path() / "data" / "Quotalume";
    auto operations = FileOperations::system();
    std::string temporary;
    operations.rename = [&](const char* from, const char* to) {
        temporary = fs::path(from).filename();
        return ::rename(from, to);
    };
    WebhookConfigurationStore store(directory, operations);
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
    const std::regex name(R"(\.webhook-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\.tmp)");
    EXPECT_TRUE(std::regex_match(temporary, name)) << temporary;
    // Below a file there is nothing to read, as below a missing folder.
    EXPECT_EQ(WebhookConfigurationStore(store.url()).load(), WebhookConfiguration{});
    // Text that is not UTF-8 fails before anything is written.
    WebhookConfiguration changed = sample;
    changed.bearerToken = "\xC3";
    EXPECT_EQ(failureOf([&] { store.save(changed); }), failure("error.config_write", EILSEQ));
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(entriesOf(directory), std::vector<std::string>{"webhook.json"});

    EXPECT_EQ(WebhookConfigurationStore::defaultDirectory(test::environmentOf({{"HOME", "/u"}})),
              "/u/.local/share/Quotalume");
}

TEST(WebhookConfigurationStoreTest, UnreadableFilesFailWithTheirCodeAndStayAsTheyWere) {
    const std::string deep =
        "{\"url\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    // A member at fault is named after the code older builds show.
    const std::tuple<const char*, int, std::vector<std::string>> cases[] = {
        {"", 3840, {}},
        {R"({"bearerToken": "a", "form)", 3840, {}},
        {"[]", 4864, {}},
        {R"({"url": "https://example.com/hook"})", 4865, {"format", "missing"}},
        {R"({"bearerToken": null, "format": "json", "signingSecret": "", "url": ""})",
         4865,
         {"bearerToken", "missing"}},
        {R"({"bearerToken": "", "format": "xml", "signingSecret": "", "url": ""})",
         4864,
         {"format", "invalid"}},
        {R"({"bearerToken": "", "format": "json", "signingSecret": 7, "url": ""})",
         4864,
         {"signingSecret", "string"}},
        {deep.c_str(), 3840, {}},
    };
    TempDir temp;
    WebhookConfigurationStore store(temp.path());
    for (const auto& [content, code, member] : cases) {
        ::chmod(temp.write("webhook.json", content).c_str(), 0600);
        LocalizedMessage expected = failure("error.config_read", code);
        expected.arguments.insert(expected.arguments.end(), member.begin(), member.end());
        EXPECT_EQ(failureOf([&] { store.load(); }), expected) << content;
        EXPECT_EQ(temp.read("webhook.json"), content);
    }
    const LocalizedMessage missing("error.config_read", {"4865", "bearerToken", "missing"});
    EXPECT_EQ(missing.localized(),
              "Could not read the webhook settings: `bearerToken` is missing (code 4865).");
    fs::remove(store.url());
    fs::create_directory(store.url());
    EXPECT_EQ(failureOf([&] { store.load(); }), failure("error.config_read", EISDIR));
}

// Credentials others could read or replace are refused, changing no mode, not even a link's target.
TEST(WebhookConfigurationStoreTest, CredentialsOthersCouldTouchAreRefusedUntouched) {
    const std::tuple<const char*, mode_t, bool, bool, const char*> cases[] = {
        {"readable by all", 0644, false, false, "error.config_shared"},
        {"writable by all", 0666, false, false, "error.config_shared"},
        {"readable by the group", 0640, false, false, "error.config_shared"},
        {"a link to a private file", 0600, true, false, "error.config_foreign"},
        {"a link to a shared file", 0644, true, false, "error.config_foreign"},
        {"another user's", 0600, false, true, "error.config_foreign"},
    };
    for (const auto& [name, mode, link, otherOwner, key] : cases) {
        SCOPED_TRACE(name);
        if (otherOwner && ::geteuid() != 0) {
            continue;  // only root can give a file away
        }
        TempDir temp;
        WebhookConfigurationStore store(temp.path() / "data");
        store.save(sample);
        const fs::path target = link ? temp.path() / "elsewhere.json" : store.url();
        if (link) {
            fs::rename(store.url(), target);
            fs::create_symlink(target, store.url());
        }
        ::chmod(target.c_str(), mode);
        if (otherOwner) {
            ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
        }
        EXPECT_EQ(failureOf([&] { store.load(); }), LocalizedMessage(key, {store.url().string()}));
        EXPECT_EQ(test::modeOf(target), mode);
        EXPECT_EQ(fs::is_symlink(store.url()), link);
    }
}

INSTANTIATE_TEST_SUITE_P(
    WebhookConfigurationStore, FailedSaveTest,
    ::testing::Values(test::SavingWriter{
        "webhookJSON", "webhook.json", "old",
        [](const fs::path& folder, const FileOperations& operations) {
            return ::testing::PrintToString(
                failureOf([&] { WebhookConfigurationStore(folder, operations).save(sample); }));
        },
        [](int error) { return ::testing::PrintToString(failure("error.config_write", error)); }}),
    test::writerName);

}  // namespace
}  // namespace quotalume
