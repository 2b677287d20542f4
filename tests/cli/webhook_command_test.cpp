#include "http_receiver.hpp"
#include "cli_runner.hpp"
#include "test_support.hpp"

#include <quotalume/child_process.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <system_error>
#include <unistd.h>

namespace quotalume {
namespace {

using testing::HTTPReceiver;
using testing::ReceiverAnswer;

using testing::runCLI;

WebhookConfigurationStore savedStore(const testing::TempDir& home) {
    return WebhookConfigurationStore(home.path() / "data" / "Quotalume");
}

TEST(WebhookCommandTest, SendsTheTestEventToAnAddressGivenOnTheCommandLine) {
    testing::TempDir home;
    HTTPReceiver receiver;
    auto run = runCLI(
        {"webhook", "test", "--url", receiver.url(), "--format", "slack", "--lang", "en"}, home);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "Test webhook delivered.\n");
    auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body,
              R"({"text":"Test message from Quotalume: your webhook is set up correctly."})");
}

TEST(WebhookCommandTest, UsesTheSavedConfigurationWithoutEverPrintingItsCredentials) {
    testing::TempDir home;
    HTTPReceiver receiver;
    savedStore(home).save({receiver.url(), WebhookFormat::json, "saved-token", "saved-secret"});

    auto delivered = runCLI({"webhook", "test"}, home);
    EXPECT_EQ(delivered.exitCode, 0) << delivered.output;
    ASSERT_EQ(receiver.requests().size(), 1u);
    auto request = receiver.requests()[0];
    EXPECT_EQ(request.header("Authorization"), "Bearer saved-token");
    EXPECT_NE(request.body.find(R"("event":"codex.webhook.test")"), std::string::npos);
    EXPECT_EQ(request.header("X-Quotalume-Signature"),
              "sha256=" + testing::hmacSHA256Hex("saved-secret",
                                  *request.header("X-Quotalume-Timestamp") + "." + request.body));

    receiver.answer(ReceiverAnswer::withStatus(401, "bad token saved-token"));
    auto refused = runCLI({"webhook", "test"}, home);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.output,
              "quotalume-cli: The webhook receiver answered with HTTP status 401.\n");
    for (const auto& run : {delivered, refused}) {
        EXPECT_EQ(run.output.find("saved-token"), std::string::npos);
        EXPECT_EQ(run.output.find("saved-secret"), std::string::npos);
    }
}

TEST(WebhookCommandTest, ReadsCredentialsFromAFileAndFromStandardInput) {
    testing::TempDir home;
    HTTPReceiver receiver;
    auto tokenFile = home.write("token", "file-token\n");
    auto run = runCLI({"webhook", "test", "--url", receiver.url(), "--token-file",
                       tokenFile.string(), "--secret-file", "-"},
                      home, "stdin-secret\r\n");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    ASSERT_EQ(receiver.requests().size(), 1u);
    auto request = receiver.requests()[0];
    EXPECT_EQ(request.header("Authorization"), "Bearer file-token");
    EXPECT_EQ(request.header("X-Quotalume-Signature"),
              "sha256=" + testing::hmacSHA256Hex("stdin-secret",
                                  *request.header("X-Quotalume-Timestamp") + "." + request.body));
}

TEST(WebhookCommandTest, FailuresPrintTheMessageAndExitOne) {
    testing::TempDir unconfigured;
    testing::TempDir corrupt;
    savedStore(corrupt).save({});
    corrupt.write("data/Quotalume/webhook.json", "{\"url\": ");
    testing::TempDir home;
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(HTTPReceiver::refusedPort()) + "/hook";
    const struct {
        const testing::TempDir& home;
        std::vector<std::string> arguments;
        std::string output;
    } cases[] = {
        {unconfigured, {}, "quotalume-cli: The webhook is on, but no URL is set.\n"},
        {corrupt, {}, "quotalume-cli: Could not read the webhook settings (code 3840).\n"},
        {home,
         {"--url", "http://example.com/hook"},
         "quotalume-cli: The webhook URL must use https:// (http:// is allowed only for "
         "localhost).\n"},
        {home,
         {"--url", refused, "--token-file", "-"},
         "quotalume-cli: Could not reach the webhook receiver.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"webhook", "test"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        auto run = runCLI(arguments, c.home, "sekrit\n");
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_EQ(run.output, c.output);
    }
}

TEST(WebhookCommandTest, UsageErrorsExitTwoWithoutEchoingCredentials) {
    testing::TempDir home;
    const std::string url = "https://example.com/hook";
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"webhook"},
             {"webhook", "send"},
             {"webhook", "test", "--bogus"},
             {"webhook", "test", "--url", url, "--format", "xml"},
             // A credential is never taken as an argument, nor echoed when mistyped.
             {"webhook", "test", "--url", url, "--token", "sekrit"},
             {"webhook", "test", "--url", url, "--secret=sekrit"},
             {"webhook", "test", "--url", url, "--tokn=sekrit"},
             {"webhook", "test", "--format", "slack"},
             {"webhook", "test", "--url", url, "--token-file", "-", "--secret-file", "-"},
             {"webhook", "test", "--url", url, "--secret-file", home.str() + "/missing"},
         }) {
        auto run = runCLI(arguments, home, "sekrit\n");
        EXPECT_EQ(run.exitCode, 2) << arguments.back() << ": " << run.output;
        EXPECT_EQ(run.output.find("sekrit"), std::string::npos) << run.output;
    }
}

TEST(WebhookCommandTest, HelpDescribesEveryOption) {
    testing::TempDir home;
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"webhook", "--help"}, {"webhook", "test", "--help"}}) {
        auto help = runCLI(arguments, home);
        EXPECT_EQ(help.exitCode, 0);
        for (const char* option : {"--url", "--format", "--token-file", "--secret-file", "process list"}) {
            EXPECT_NE(help.output.find(option), std::string::npos) << option;
        }
    }
    EXPECT_NE(runCLI({"--help"}, home).output.find("webhook"), std::string::npos);
}

}  // namespace
}  // namespace quotalume
