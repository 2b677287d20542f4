#include "cli_runner.hpp"
#include "http_receiver.hpp"
#include "test_support.hpp"

#include <quotalume/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using test::runCLI;

// Checked with OpenSSL directly.
bool isSignedWith(const std::string& secret, const test::ReceivedRequest& r) {
    auto message = r.header("X-Quotalume-Timestamp").value_or("") + "." + r.body;
    return r.header("X-Quotalume-Signature") == "sha256=" + test::hmacSHA256Hex(secret, message);
}

TEST(WebhookCommandTest, SendsToTheGivenOrTheSavedAddressWithoutEverPrintingCredentials) {
    test::TempDir home;
    test::HTTPReceiver receiver;
    WebhookConfigurationStore(home.path() / "data" / "Quotalume")
        .save({receiver.url(), WebhookFormat::json, "saved-token", "saved-secret"});
    const std::string url = receiver.url(), tokenFile = home.write("token", "file-token\n");
    for (const auto& run :
         {runCLI({"webhook", "test", "--url", url, "--format", "slack", "--lang", "en"}, home),
          runCLI({"webhook", "test", "--url", url, "--token-file", tokenFile, "--secret-file", "-"},
                 home, "stdin-secret\r\n"),
          runCLI({"webhook", "test"}, home)}) {
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.output, "Test webhook delivered.\n");
    }
    receiver.answer(test::ReceiverAnswer::withStatus(401, "bad token saved-token"));
    auto run = runCLI({"webhook", "test"}, home);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "quotalume-cli: The webhook receiver answered with HTTP status 401.\n");

    auto requests = receiver.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].body,
              R"({"text":"Test message from Quotalume: your webhook is set up correctly."})");
    EXPECT_EQ(requests[0].header("Authorization"), std::nullopt) << "saved token sent to --url";
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer file-token");
    EXPECT_TRUE(isSignedWith("stdin-secret", requests[1]));
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer saved-token");
    EXPECT_TRUE(isSignedWith("saved-secret", requests[2]));
}

TEST(WebhookCommandTest, FailuresExitOneWithTheMessageAndUsageErrorsTwoWithoutEchoingSecrets) {
    test::TempDir home, corrupt;
    WebhookConfigurationStore(corrupt.path() / "data" / "Quotalume").save({});
    corrupt.write("data/Quotalume/webhook.json", "{\"url\": ");
    const std::string url = "https://example.com/hook";
    const auto refused = "http://127.0.0.1:" + std::to_string(test::HTTPReceiver::refusedPort());
    const struct {
        const test::TempDir& home;
        std::vector<std::string> arguments;
        const char* message = nullptr;  // the whole output when the exit status is 1, else 2
    } cases[] = {
        {home, {"webhook", "test"}, "The webhook is on, but no URL is set."},
        {corrupt, {"webhook", "test"}, "Could not read the webhook settings (code 3840)."},
        {home,
         {"webhook", "test", "--url", refused, "--token-file", "-"},
         "Could not reach the webhook receiver."},
        {home, {"webhook"}},
        {home, {"webhook", "test", "--url", url, "--format", "xml"}},
        // A credential is never taken as an argument, nor echoed when mistyped.
        {home, {"webhook", "test", "--url", url, "--token", "sekrit"}},
        {home, {"webhook", "test", "--url", url, "--secret=sekrit"}},
        {home, {"webhook", "test", "--url", url, "--tokn=sekrit"}},
        {home, {"webhook", "test", "--format", "slack"}},
        {home, {"webhook", "test", "--url", url, "--token-file", "-", "--secret-file", "-"}},
        {home, {"webhook", "test", "--url", url, "--secret-file", home.str() + "/missing"}},
    };
    for (const auto& c : cases) {
        auto run = runCLI(c.arguments, c.home, "sekrit\n");
        EXPECT_EQ(run.exitCode, c.message ? 1 : 2) << c.arguments.back() << ": " << run.output;
        EXPECT_EQ(run.output.find("sekrit"), std::string::npos) << run.output;
        if (c.message) {
            EXPECT_EQ(run.output, std::string("quotalume-cli: ") + c.message + "\n");
        } else {
            EXPECT_NE(run.output.find("Try 'quotalume-cli webhook --help'."), std::string::npos)
                << run.output;
        }
    }
}

TEST(WebhookCommandTest, HelpDescribesEveryOption) {
    test::TempDir home;
    auto help = runCLI({"webhook", "test", "--help"}, home);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--url", "--format", "--token-file", "--secret-file", "--lang",
                               "process list", "X-Quotalume-Timestamp", "X-Quotalume-Signature",
                               "TIMESTAMP.BODY", "\"sign\"", "\"errcode\""}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(runCLI({"webhook", "--help"}, home).output, help.output);
    EXPECT_NE(runCLI({"--help"}, home).output.find("webhook"), std::string::npos);
}

}  // namespace
}  // namespace quotalume
