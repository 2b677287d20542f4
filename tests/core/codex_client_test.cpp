#include <quotalume/codex_client.hpp>
#include <quotalume/localized_message.hpp>
#include <quotalume/quotalume_error.hpp>

#include "test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using nlohmann::json;
using testing::FakeCodexHome;
using Case = QuotalumeError::Case;

constexpr const char* codexLimits =
    R"({"accountId":"acct-1","rateLimits":{"limitId":"codex","primary":{"usedPercent":24,"windowDurationMins":300}}})";

// A fake home whose server answers like a signed-in app-server, with the given answers.
struct ServingHome : FakeCodexHome {
    explicit ServingHome(const std::string& rateLimits = codexLimits,
                         const std::string& account = R"({"account":{"type":"chatgpt","email":"a@b.c"}})") {
        write("rate_limits.json", rateLimits);
        write("account.json", account);
    }
    CodexConfiguration configuration() const { return {executable(), str(), 10}; }
};

LocalizedMessage failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (...) {
        return LocalizedMessage::from(std::current_exception());
    }
    return LocalizedMessage("no failure");
}

TEST(CodexClientTest, FetchWritesExactlyFourLinesAndReturnsTheCodexBucket) {
    ServingHome home;
    UsageSnapshot snapshot = CodexClient().fetch(home.configuration());
    ASSERT_EQ(snapshot.buckets.size(), 1u);
    EXPECT_EQ(snapshot.buckets[0].window(QuotaWindow::fiveHour)->usedPercent, 24);
    EXPECT_EQ(snapshot.accountFingerprint, UsageSnapshot::fingerprint(home.str() + ":acct-1"));

    auto messages = home.receivedMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], json::parse(R"({"id":1,"method":"initialize","params":{"clientInfo":
        {"name":"quotalume","title":"Quotalume","version":"1.0.0"}}})"));
    EXPECT_EQ(messages[1], json::parse(R"({"method":"initialized"})"));
    EXPECT_EQ(messages[2], json::parse(R"({"id":2,"method":"account/read","params":{"refreshToken":false}})"));
    EXPECT_EQ(messages[3], json::parse(R"({"id":3,"method":"account/rateLimits/read"})"));
    EXPECT_FALSE(testing::hasChildren());
}

TEST(CodexClientTest, AccountChecks) {
    const std::pair<const char*, LocalizedMessage> cases[] = {
        {R"({"account":null})", "error.login"},
        {R"({})", "error.login"},
        {R"({"account":"chatgpt"})", "error.login"},
        {R"({"account":{"type":"apiKey"}})", "error.auth_type"},
        {R"({"account":{"type":"ChatGPT"}})", "error.auth_type"},
        {R"({"account":{"email":"a@b.c"}})", "error.auth_type"},
        {R"({"account":{"type":1}})", "error.auth_type"},
    };
    for (const auto& [account, expected] : cases) {
        ServingHome home(codexLimits, account);
        EXPECT_EQ(failureOf([&] { CodexClient().fetch(home.configuration()); }), expected) << account;
        // Refused before the rate limits were asked for.
        EXPECT_EQ(home.receivedLines().size(), 3u) << account;
    }
    EXPECT_FALSE(testing::hasChildren());
}

TEST(CodexClientTest, AnswersWithoutLimitsOrOfTheWrongShape) {
    const std::pair<const char*, LocalizedMessage> cases[] = {
        {R"({"rateLimitsByLimitId":{"other":{}}})", "error.no_limits"},
        {R"({})", "error.no_limits"},
        {R"({"rateLimits":{"primary":{"usedPercent":"12"}}})", LocalizedMessage("error.system", {"4864"})},
        {R"({"rateLimits":{"credits":{"unlimited":true}}})", LocalizedMessage("error.system", {"4865"})},
        {R"([])", "error.response"},
    };
    for (const auto& [answer, expected] : cases) {
        ServingHome home(answer);
        EXPECT_EQ(failureOf([&] { CodexClient().fetch(home.configuration()); }), expected) << answer;
    }
}

TEST(CodexClientTest, FingerprintFollowsAccountAndHome) {
    ServingHome withID;
    auto first = CodexClient().fetch(withID.configuration()).accountFingerprint;
    withID.write("account.json", R"({"account":{"type":"chatgpt","email":"other@b.c"}})");
    EXPECT_EQ(CodexClient().fetch(withID.configuration()).accountFingerprint, first);

    ServingHome otherHome;
    EXPECT_NE(CodexClient().fetch(otherHome.configuration()).accountFingerprint, first);

    ServingHome byEmail(R"({"rateLimits":{}})");
    EXPECT_EQ(CodexClient().fetch(byEmail.configuration()).accountFingerprint,
              UsageSnapshot::fingerprint(byEmail.str() + ":a@b.c"));

    ServingHome emptyID(R"({"rateLimits":{},"accountId":""})");
    EXPECT_EQ(CodexClient().fetch(emptyID.configuration()).accountFingerprint,
              UsageSnapshot::fingerprint(emptyID.str() + ":"));

    // Neither id nor e-mail: the home's account, the same on every fetch.
    ServingHome anonymous(R"({"rateLimits":{}})", R"({"account":{"type":"chatgpt"}})");
    EXPECT_EQ(CodexClient().fetch(anonymous.configuration()).accountFingerprint,
              UsageSnapshot::fingerprint(anonymous.str()));
    EXPECT_EQ(CodexClient().fetch(anonymous.configuration()).accountFingerprint,
              UsageSnapshot::fingerprint(anonymous.str()));
}

TEST(CodexClientTest, LocatorAndLaunchFailuresComeFirst) {
    ServingHome home;
    auto configuration = home.configuration();
    configuration.executablePath = "codex";
    EXPECT_EQ(failureOf([&] { CodexClient().fetch(configuration); }), LocalizedMessage("error.executable"));
    configuration = home.configuration();
    configuration.homePath = home.str() + "/missing";
    EXPECT_EQ(failureOf([&] { CodexClient().fetch(configuration); }), LocalizedMessage("error.home"));
    EXPECT_FALSE(home.path().empty());
    EXPECT_TRUE(home.receivedLines().empty());
}

TEST(CodexClientTest, RecentThreadsClampsTheLimit) {
    FakeCodexHome home(
        "reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\n"
        "reply {\"data\":[{\"id\":\"t1\",\"updatedAt\":2},{\"id\":\"t2\",\"updatedAt\":1}]}\n");
    CodexConfiguration configuration{home.executable(), home.str(), 10};
    auto threads = CodexClient().recentThreads(0, configuration);
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0].id, "t1");
    EXPECT_EQ(home.receivedMessages().at(3),
              json::parse(R"({"id":3,"method":"thread/list","params":{"limit":1,"sortKey":"updated_at",
                  "sortDirection":"desc","useStateDbOnly":true}})"));

    FakeCodexHome many("reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\nreply {\"data\":[]}\n");
    EXPECT_TRUE(CodexClient().recentThreads(50, {many.executable(), many.str(), 10}).empty());
    EXPECT_EQ(many.receivedMessages().at(3)["params"]["limit"], 20);
}

TEST(CodexClientTest, ThreadUsageChecksTheThread) {
    auto script = [](const std::string& usage) {
        return "reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\nreply " + usage + "\n";
    };
    FakeCodexHome home(script(R"({"threadUsage":{"threadId":"t1","estimatedUsageCreditsMicros":5,"groups":[]}})"));
    auto usage = CodexClient().threadUsage("  t1\n", {home.executable(), home.str(), 10});
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->estimatedUsageCreditsMicros, 5);
    EXPECT_EQ(home.receivedMessages().at(3)["params"], json({{"threadId", "t1"}}));

    FakeCodexHome none(script("{}"));
    EXPECT_FALSE(CodexClient().threadUsage("t1", {none.executable(), none.str(), 10}));

    FakeCodexHome other(script(R"({"threadUsage":{"threadId":"t2","estimatedUsageCreditsMicros":5,"groups":[]}})"));
    EXPECT_EQ(failureOf([&] { CodexClient().threadUsage("t1", {other.executable(), other.str(), 10}); }),
              LocalizedMessage("error.response"));

    FakeCodexHome untouched("serve\n");
    EXPECT_EQ(failureOf([&] { CodexClient().threadUsage(" \t ", {untouched.executable(), untouched.str(), 10}); }),
              LocalizedMessage("error.thread_id"));
    EXPECT_FALSE(std::filesystem::exists(untouched.path() / "launch.json")) << "a child was started";
}

}  // namespace
}  // namespace quotalume
