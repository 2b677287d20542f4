#include "cli_runner.hpp"
#include "http_receiver.hpp"

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
    const struct {
        const char* name;
        test::Strings options;
        std::string input;
    } sends[] = {
        {"to --url", {"--url", url, "--format", "slack", "--lang", "en"}, ""},
        {"with credentials from files",
         {"--url", url, "--token-file", tokenFile, "--secret-file", "-"},
         "stdin-secret\r\n"},
        {"to the saved address", {}, ""},
    };
    for (const auto& send : sends) {
        SCOPED_TRACE(send.name);
        EXPECT_EQ(runCLI(test::joined({"webhook", "test"}, send.options), home, send.input),
                  (test::CLIRun{0, "Test webhook delivered.\n"}));
    }
    receiver.answer(test::ReceiverAnswer::withStatus(401, "bad token saved-token"));
    EXPECT_EQ(
        runCLI({"webhook", "test"}, home),
        (test::CLIRun{1, "quotalume-cli: The webhook receiver answered with HTTP status 401.\n"}));

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
        const char* name;
        const test::TempDir& home;
        test::Strings options;
        const char* message = nullptr;  // the whole output when the exit status is 1, else 2
    } rows[] = {
        {"on without an address", home, {}, "The webhook is on, but no URL is set."},
        {"unreadable settings", corrupt, {}, "Could not read the webhook settings (code 3840)."},
        {"nobody listening",
         home,
         {"--url", refused, "--token-file", "-"},
         "Could not reach the webhook receiver."},
        {"an unknown format", home, {"--url", url, "--format", "xml"}},
        // A credential is never taken as an argument, nor echoed when mistyped.
        {"a token as an argument", home, {"--url", url, "--token", "sekrit"}},
        {"a secret as an argument", home, {"--url", url, "--secret=sekrit"}},
        {"a mistyped option", home, {"--url", url, "--tokn=sekrit"}},
        {"a format without an address", home, {"--format", "slack"}},
        {"both from standard input",
         home,
         {"--url", url, "--token-file", "-", "--secret-file", "-"}},
        {"a missing secret file", home, {"--url", url, "--secret-file", home.str() + "/missing"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto run = runCLI(test::joined({"webhook", "test"}, row.options), row.home, "sekrit\n");
        EXPECT_EQ(run.exitCode, row.message ? 1 : 2) << run.output;
        EXPECT_EQ(run.output.find("sekrit"), std::string::npos) << run.output;
        if (row.message) {
            EXPECT_EQ(run.output, std::string("quotalume-cli: ") + row.message + "\n");
        } else {
            EXPECT_NE(run.output.find("Try 'quotalume-cli webhook --help'."), std::string::npos)
                << run.output;
        }
    }
}

}  // namespace
}  // namespace quotalume
