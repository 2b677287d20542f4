#include "test_support.hpp"

#include <quotalume/codex/codex_client.hpp>
#include <quotalume/codex/rpc_session.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace quotalume {
namespace {

using nlohmann::json;
using test::failureOf;
using test::FakeCodexHome;

constexpr const char* codexLimits =
    R"({"accountId":"acct-1","rateLimits":{"limitId":"codex","primary":{"usedPercent":24,"windowDurationMins":300}}})";

// A fake home whose server answers like a signed-in app-server, with the given answers.
struct ServingHome : FakeCodexHome {
    explicit ServingHome(
        const std::string& rateLimits = codexLimits,
        const std::string& account = R"({"account":{"type":"chatgpt","email":"a@b.c"}})") {
        write("rate_limits.json", rateLimits);
        write("account.json", account);
    }
};

// A signed-in server that answers the request after the handshake with `answer`.
FakeCodexHome answering(const std::string& answer) {
    return FakeCodexHome("reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\nreply " +
                         answer + "\n");
}

CodexConfiguration configurationOf(const FakeCodexHome& home) {
    return {home.executable(), home.str(), 10};
}

// One folder is one account however it is spelled; an older spelling's fingerprint is kept.
TEST(CodexClientTest, OneHomeIsOneAccountHoweverItIsSpelled) {
    ServingHome home;
    test::TempDir elsewhere;
    const std::string link = (elsewhere.path() / "link").string();
    std::filesystem::create_directory_symlink(home.path(), link);
    std::filesystem::create_directory(home.path() / "sub");
    const std::string resolved = UsageSnapshot::fingerprint(home.str() + ":acct-1");
    const std::pair<std::string, std::optional<std::string>> spellings[] = {
        {home.str(), std::nullopt},
        {home.str() + "/", std::nullopt},
        {home.str() + "/sub/..", std::nullopt},
        {link, UsageSnapshot::fingerprint(link + ":acct-1")},
        {link + "/sub/../", UsageSnapshot::fingerprint(link + ":acct-1")},
    };
    for (const auto& [spelling, legacy] : spellings) {
        UsageSnapshot snapshot = CodexClient().fetch({home.executable(), spelling, 10});
        EXPECT_EQ(snapshot.accountFingerprint, resolved) << spelling;
        EXPECT_EQ(snapshot.legacyFingerprint, legacy) << spelling;
    }
}

// Accounts that cannot read limits are refused before the limits are asked for.
TEST(CodexClientTest, RefusedAccountsAndAnswers) {
    const char* signedIn = R"({"account":{"type":"chatgpt"}})";
    const std::tuple<const char*, const char*, LocalizedMessage> cases[] = {
        {R"({"account":null})", codexLimits, "error.login"},
        {R"({"account":"chatgpt"})", codexLimits, "error.login"},
        {R"({"account":{"type":"apiKey"}})", codexLimits, "error.auth_type"},
        {R"({"account":{"type":"ChatGPT"}})", codexLimits, "error.auth_type"},
        {R"({"account":{"type":1}})", codexLimits, "error.auth_type"},
        {signedIn, R"({"rateLimitsByLimitId":{"other":{}}})", "error.no_limits"},
        // The stored code as before, and the member at fault after it.
        {signedIn, R"({"rateLimits":{"credits":{"unlimited":true}}})",
         LocalizedMessage("error.system", {"4865", "rateLimits.credits.hasCredits", "missing"})},
        {signedIn, R"({"rateLimits":{"primary":{"usedPercent":"80"}}})",
         LocalizedMessage("error.system", {"4864", "rateLimits.primary.usedPercent", "number"})},
        {signedIn, R"({"rateLimitsByLimitId":[{"limitId":"codex"}]})",
         LocalizedMessage("error.system", {"4864", "rateLimitsByLimitId", "object"})},
        {signedIn, "[]", "error.response"},
    };
    for (const auto& [account, limits, expected] : cases) {
        SCOPED_TRACE(std::string(account) + " " + limits);
        ServingHome home(limits, account);
        LocalizedMessage failure = failureOf([&] { CodexClient().fetch(configurationOf(home)); });
        // The sign-in advice names this very codex and home; checked below.
        if (failure.key == "error.login_command") {
            failure = "error.login";
        }
        EXPECT_EQ(failure, expected);
        EXPECT_EQ(home.receivedLines().size(), account == signedIn ? 4u : 3u);
    }
}

// Advice fit for this machine: a shell-ready sign-in, a non-Codex named, Codex's words made safe.
TEST(CodexClientTest, FailuresSayWhatToDo) {
    FakeCodexHome signedOut;
    signedOut.write("it's a home/script", "serve");
    const auto home =
        signedOut.write("it's a home/account.json", R"({"account":null})").parent_path();
    EXPECT_EQ(failureOf([&] {
                  CodexClient().fetch({signedOut.executable(), home.string(), 10});
              }),
              LocalizedMessage("error.login_command",
                               {"CODEX_HOME='" + signedOut.str() + "/it'\\''s a home' " +
                                signedOut.executable() + " login"}));

    // Ending without a word is "not Codex" only from a program that never once answered as
    // Codex: one that did has stopped, and says so.
    FakeCodexHome silent("exit 0\n");
    const std::string copy = silent.str() + "/never-answered";
    std::filesystem::copy_file(silent.executable(), copy);
    const auto fetchCopy = [&] {
        return failureOf([&] { CodexClient().fetch({copy, silent.str(), 10}); });
    };
    EXPECT_EQ(fetchCopy(), LocalizedMessage("error.not_codex", {copy}));
    EXPECT_EQ(fetchCopy(), LocalizedMessage("error.not_codex", {copy}));
    silent.write("script", "serve");
    EXPECT_NO_THROW(CodexClient().fetch({copy, silent.str(), 10}));
    silent.write("script", "exit 0\n");
    EXPECT_EQ(fetchCopy(), LocalizedMessage("error.server_exit"));

    // A tab, a bell, a C1 control and markup; 200 characters at most.
    const std::string said = "no network:\t<b>offline</b>\a\u0085" + std::string(300, 'x');
    FakeCodexHome failing(
        "reply {}\nread\nsend {\"id\":2,\"error\":{\"code\":-32603,"
        "\"message\":" +
        nlohmann::json(said).dump() + "}}\n");
    EXPECT_EQ(failureOf([&] { CodexClient().fetch(configurationOf(failing)); }),
              LocalizedMessage("error.rpc_said",
                               {"account/read", "-32603",
                                "no network: <b>offline</b> " + std::string(173, 'x') + "\u2026"}));
}

// The fingerprint is the home's and the account's: two homes signed into one account each keep
// their own history. The key that tells a second source it reads an account read already is the
// account id alone.
TEST(CodexClientTest, FingerprintFollowsAccountAndHomeAndTheKeyTheAccountAlone) {
    const auto fetch = [](const ServingHome& home) {
        return CodexClient().fetch(configurationOf(home));
    };
    ServingHome withID, other;
    const UsageSnapshot first = fetch(withID);
    withID.write("account.json", R"({"account":{"type":"chatgpt","email":"other@b.c"}})");
    EXPECT_EQ(fetch(withID).accountFingerprint, first.accountFingerprint);
    const UsageSnapshot second = fetch(other);
    EXPECT_NE(second.accountFingerprint, first.accountFingerprint);
    ASSERT_TRUE(first.accountKey);
    EXPECT_EQ(second.accountKey, first.accountKey);
    EXPECT_FALSE(first.toJSON(DateCoding::referenceSeconds).contains("accountKey"));

    ServingHome byEmail(R"({"rateLimits":{}})");
    EXPECT_EQ(fetch(byEmail).accountFingerprint,
              UsageSnapshot::fingerprint(byEmail.str() + ":a@b.c"));
    ServingHome emptyID(R"({"rateLimits":{},"accountId":""})");
    EXPECT_EQ(fetch(emptyID).accountFingerprint, UsageSnapshot::fingerprint(emptyID.str() + ":"));
    // Neither id nor e-mail: the home's account, named by nothing else.
    ServingHome anonymous(R"({"rateLimits":{}})", R"({"account":{"type":"chatgpt"}})");
    const UsageSnapshot nameless = fetch(anonymous);
    EXPECT_EQ(nameless.accountFingerprint, UsageSnapshot::fingerprint(anonymous.str()));
    EXPECT_FALSE(nameless.accountKey);
}

TEST(CodexClientTest, RecentThreadsClampsTheLimit) {
    auto home = answering(R"({"data":[{"id":"t1","updatedAt":2},{"id":"t2","updatedAt":1}]})");
    auto threads = CodexClient().recentThreads(0, configurationOf(home));
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0].id, "t1");
    EXPECT_EQ(
        home.receivedMessages().at(3),
        json::parse(R"({"id":3,"method":"thread/list","params":{"limit":1,"sortKey":"updated_at",
                  "sortDirection":"desc","useStateDbOnly":true}})"));

    auto many = answering(R"({"data":[]})");
    EXPECT_TRUE(CodexClient().recentThreads(50, configurationOf(many)).empty());
    EXPECT_EQ(many.receivedMessages().at(3)["params"]["limit"], 20);
}

// After the handshake and the account, a light read asks for everything but the banked resets'
// list; a Codex that does not know the member is asked again in full within the same session,
// and the snapshot says so.
TEST(CodexClientTest, LightAndFullReadsSendExactlyTheirLines) {
    const std::vector<std::string> handshake = {
        R"({"id":1,"method":"initialize","params":{"clientInfo":{"name":"quotalume",)"
        R"("title":"Quotalume","version":"1.0.0"}}})",
        R"({"method":"initialized"})",
        R"({"id":2,"method":"account/read","params":{"refreshToken":false}})"};
    const std::string withCredits =
        R"({"rateLimits":{"limitId":"codex","primary":{"usedPercent":24,"windowDurationMins":300}},)"
        R"("rateLimitResetCredits":{"availableCount":2,"credits":[{"id":"c1","status":"available"}]}})";
    const std::string fullRead = R"({"id":3,"method":"account/rateLimits/read"})",
                      lightRead = R"({"id":3,"method":"account/rateLimits/read",)"
                                  R"("params":{"excludeResetCreditDetails":true}})",
                      again = R"({"id":4,"method":"account/rateLimits/read"})";
    using enum CodexClient::Depth;
    const std::tuple<const char*, CodexClient::Depth, bool, std::vector<std::string>, bool,
                     std::size_t>
        rows[] = {
            {"full", full, false, {fullRead}, true, 1},
            {"light", light, false, {lightRead}, false, 0},
            {"light refused as invalid params", light, true, {lightRead, again}, true, 1},
        };
    for (const auto& [name, depth, lightUnknown, queries, creditDetails, credits] : rows) {
        SCOPED_TRACE(name);
        ServingHome home(withCredits);
        if (lightUnknown) {
            home.write("light_unknown", "");
        }
        const UsageSnapshot snapshot = CodexClient().fetch(configurationOf(home), depth);
        std::vector<std::string> lines = handshake;
        lines.insert(lines.end(), queries.begin(), queries.end());
        EXPECT_EQ(home.receivedLines(), lines);
        EXPECT_FALSE(test::hasChildren());
        ASSERT_EQ(snapshot.buckets.size(), 1u);
        EXPECT_EQ(snapshot.buckets[0].window(QuotaWindow::fiveHour)->usedPercent, 24);
        EXPECT_EQ(snapshot.creditDetails, creditDetails);
        ASSERT_TRUE(snapshot.resetCredits);
        EXPECT_EQ(snapshot.resetCredits->availableCount, 2);
        EXPECT_EQ(snapshot.resetCredits->credits.size(), credits);
    }

    // Only invalid params bring a second read; another refusal is the read's failure.
    FakeCodexHome refusing(
        "reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\nread\n"
        "send {\"id\":3,\"error\":{\"code\":-32601,\"message\":\"no\"}}\n");
    EXPECT_EQ(failureOf([&] { CodexClient().fetch(configurationOf(refusing), light); }).key,
              "error.rpc_said");
    EXPECT_EQ(refusing.receivedLines().size(), 4u);
}

// Each of Codex's words for a server it cannot reach, at any request, is offline with its text.
TEST(CodexClientTest, CodexWithoutANetworkIsOfflineWithItsOwnWords) {
    ASSERT_FALSE(offlineFailures().empty());
    for (std::string_view words : offlineFailures()) {
        SCOPED_TRACE(std::string(words));
        std::string shouted(words);
        std::transform(shouted.begin(), shouted.end(), shouted.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        const std::string said = "request failed: " + shouted + " (os error 101)";
        const std::string refused =
            ",\"error\":{\"code\":-32603,\"message\":" + json(said).dump() + "}}\n";
        for (const std::string& script :
             {"reply {}\nread\nsend {\"id\":2" + refused,
              "reply {}\nread\nreply {\"account\":{\"type\":\"chatgpt\"}}\nread\nsend {\"id\":3" +
                  refused}) {
            FakeCodexHome home(script);
            EXPECT_EQ(failureOf([&] { CodexClient().fetch(configurationOf(home)); }),
                      LocalizedMessage("error.offline", {said}));
        }
    }
    EXPECT_FALSE(saysOffline("workspace routing discovery"));
    EXPECT_FALSE(saysOffline(""));
}

TEST(CodexClientTest, ThreadUsageChecksTheThread) {
    auto home = answering(
        R"({"threadUsage":{"threadId":"t1","estimatedUsageCreditsMicros":5,"groups":[]}})");
    auto usage = CodexClient().threadUsage("  t1\n", configurationOf(home));
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->estimatedUsageCreditsMicros, 5);
    EXPECT_EQ(home.receivedMessages().at(3)["params"], json({{"threadId", "t1"}}));

    auto other = answering(
        R"({"threadUsage":{"threadId":"t2","estimatedUsageCreditsMicros":5,"groups":[]}})");
    EXPECT_EQ(failureOf([&] { CodexClient().threadUsage("t1", configurationOf(other)); }),
              "error.response");

    FakeCodexHome untouched("serve\n");
    EXPECT_EQ(failureOf([&] { CodexClient().threadUsage(" \t ", configurationOf(untouched)); }),
              "error.thread_id");
    EXPECT_FALSE(std::filesystem::exists(untouched.path() / "launch.json"))
        << "a child was started";
}

}  // namespace
}  // namespace quotalume
