#include "test_support.hpp"

#include <quotalume/usage/limit_state.hpp>
#include <quotalume/usage/rate_limits.hpp>

#include <gtest/gtest.h>

#include <fstream>

namespace quotalume {
namespace {

using nlohmann::json;

// What codex-cli 0.169.0 says its answer may hold (`codex app-server generate-json-schema`).
const json& schema() {
    static const json loaded = [] {
        std::ifstream file(QUOTALUME_TEST_DATA_DIR
                           "/codex-0.169.0/GetAccountRateLimitsResponse.json");
        return json::parse(file);
    }();
    return loaded;
}

std::vector<std::string> schemaWords(const char* definition) {
    return schema()["definitions"][definition]["enum"].get<std::vector<std::string>>();
}

RateLimitsResponse decode(const json& answer) {
    return answer.get<RateLimitsResponse>();
}

json answerWith(const json& bucketMembers, const json& topMembers = json::object()) {
    json bucket = {
        {"limitId", "codex"},
        {"primary", {{"usedPercent", 30}, {"windowDurationMins", 300}, {"resetsAt", 1900000000}}},
        {"secondary",
         {{"usedPercent", 40}, {"windowDurationMins", 10080}, {"resetsAt", 1900300000}}}};
    if (bucketMembers.is_object()) {
        bucket.update(bucketMembers);
    }
    json answer = {{"rateLimits", bucket}};
    if (topMembers.is_object()) {
        answer.update(topMembers);
    }
    return answer;
}

UsageSnapshot reading(const json& bucketMembers, const json& topMembers = json::object()) {
    RateLimitsResponse response = decode(answerWith(bucketMembers, topMembers));
    UsageSnapshot snapshot{dateFromUnixSeconds(1899990000), "account", response.buckets()};
    snapshot.ordinaryUsageAllowed = response.ordinaryUsageAllowed;
    snapshot.resetCredits = response.rateLimitResetCredits;
    return snapshot;
}

// Every shape the schema allows for the new members is read, and every word it lists is known.
TEST(LimitStateDecodingTest, ReadsEveryShapeTheReferenceSchemaAllows) {
    const auto reachedTypes = schemaWords("RateLimitReachedType");
    ASSERT_EQ(reachedTypes.size(), 5u);
    for (const std::string& word : reachedTypes) {
        EXPECT_EQ(
            decode(answerWith({{"rateLimitReachedType", word}})).rateLimits->rateLimitReachedType,
            word);
    }
    for (const std::string& word : schemaWords("RateLimitResetCreditStatus")) {
        const json credit = {
            {"id", "c"}, {"status", word}, {"grantedAt", 1}, {"resetType", "codexRateLimits"}};
        auto credits = decode(answerWith({}, {{"rateLimitResetCredits",
                                               {{"availableCount", 1}, {"credits", {credit}}}}}))
                           .rateLimitResetCredits;
        ASSERT_TRUE(credits);
        EXPECT_EQ(credits->credits.at(0).status, word);
    }

    // Null members, as the schema allows for each of them, read as absent.
    EXPECT_EQ(
        decode(answerWith({{"rateLimitReachedType", nullptr},
                           {"spendControlReached", nullptr},
                           {"individualLimit", nullptr}},
                          {{"ordinaryUsageAllowed", nullptr}, {"rateLimitResetCredits", nullptr}})),
        decode(answerWith({})));

    auto full = decode(answerWith(
        json::parse(R"({"spendControlReached": true, "individualLimit": {"limit": "100.00",
            "used": "100.00", "remainingPercent": 0, "resetsAt": 1900100000}})"),
        json::parse(R"({"ordinaryUsageAllowed": false, "rateLimitResetCredits": {
            "availableCount": 2, "credits": [
              {"id": "a", "status": "available", "expiresAt": 1900050000, "title": "Reset",
               "grantedAt": 1, "resetType": "codexRateLimits"},
              {"id": "b", "status": "available", "expiresAt": null, "grantedAt": 1,
               "resetType": "unknown"}]}})")));
    EXPECT_EQ(full.rateLimits->individualLimit,
              (SpendControlLimit{"100.00", "100.00", 0.0, 1900100000.0}));
    ASSERT_TRUE(full.rateLimitResetCredits);
    EXPECT_EQ(full.rateLimitResetCredits->availableCount, 2);
    EXPECT_EQ(full.rateLimitResetCredits->nextExpiring()->id, "a");
    EXPECT_FALSE(full.rateLimitResetCredits->credits[1].expiryDate());

    // Written back and read again, as the state file and the engine's socket carry them.
    EXPECT_EQ(json(full).get<RateLimitsResponse>(), full);
}

// Newer members are read leniently: an unknown word or a wrong type never costs the reading.
TEST(LimitStateDecodingTest, UnknownWordsAndWrongTypesNeverCostTheReading) {
    const std::pair<json, std::optional<std::string>> reached[] = {
        {"usage_limit_exceeded_someday", "unknown"},
        {42, std::nullopt},
        {json::object(), std::nullopt},
        {true, std::nullopt}};
    for (const auto& [value, expected] : reached) {
        SCOPED_TRACE(value.dump());
        auto response = decode(
            answerWith({{"rateLimitReachedType", value},
                        {"spendControlReached", "yes"},
                        {"individualLimit", {{"limit", 5}, {"used", "1"}}}},
                       {{"ordinaryUsageAllowed", "false"}, {"rateLimitResetCredits", "two"}}));
        ASSERT_TRUE(response.rateLimits);
        EXPECT_EQ(response.rateLimits->rateLimitReachedType, expected);
        EXPECT_EQ(response.rateLimits->primary->usedPercent, 30.0);  // the rest stands
        EXPECT_FALSE(response.rateLimits->spendControlReached);
        EXPECT_EQ(response.rateLimits->individualLimit,
                  (SpendControlLimit{std::nullopt, "1", std::nullopt, std::nullopt}));
        EXPECT_FALSE(response.ordinaryUsageAllowed);
        EXPECT_FALSE(response.rateLimitResetCredits);
    }
    // A hostile list of credits is cut short; credits without an id, or of no shape, are skipped;
    // an over-long title is not taken in.
    json credits = json::array();
    for (int i = 0; i < 10000; ++i) {
        credits.push_back(
            {{"id", std::to_string(i)}, {"status", "available"}, {"title", std::string(300, 'x')}});
    }
    credits.insert(credits.begin(), json(7));
    credits.insert(credits.begin(), json{{"id", "line\nbreak"}, {"status", "available"}});
    credits.insert(credits.begin(), json{{"status", "available"}});
    auto many = decode(answerWith(
        {}, {{"rateLimitResetCredits", {{"availableCount", -3}, {"credits", credits}}}}));
    ASSERT_TRUE(many.rateLimitResetCredits);
    EXPECT_EQ(many.rateLimitResetCredits->availableCount, 0);
    ASSERT_EQ(many.rateLimitResetCredits->credits.size(), ResetCreditsSummary::maximumCredits);
    EXPECT_EQ(many.rateLimitResetCredits->credits[0].id, "0");
    EXPECT_FALSE(many.rateLimitResetCredits->credits[0].title);
}

TEST(BlockedStateTest, EveryReasonCodexGivesAndWhatTheWindowsShow) {
    test::InterfaceLanguage english;
    const auto window = [](double used, int minutes, double resetsAt) {
        return json{{"usedPercent", used}, {"windowDurationMins", minutes}, {"resetsAt", resetsAt}};
    };
    const auto with = [](json members, const json& more) {
        members.update(more);
        return members;
    };
    constexpr double fiveHourEnd = 1900000000, spendEnd = 1900100000, weekEnd = 1900300000,
                     monthEnd = 1902000000;
    const json fiveHourUsedUp = {{"primary", window(100, 300, fiveHourEnd)}};
    const json weeklyUsedUp = {{"secondary", window(100, 10080, weekEnd)}};
    const json monthUsedUp = {{"secondary", window(100, 43200, monthEnd)}};
    const json reached = {{"rateLimitReachedType", "rate_limit_reached"}};
    const json weeklyReached = with(weeklyUsedUp, reached);
    const json bothUsedUp = with(weeklyUsedUp, fiveHourUsedUp);
    const std::string owner = "workspace_owner_credits_depleted";
    const json ownerCredits = with(weeklyUsedUp, {{"rateLimitReachedType", owner}});
    const json spend = {
        {"spendControlReached", true},
        {"individualLimit",
         {{"limit", "5"}, {"used", "5"}, {"remainingPercent", 0}, {"resetsAt", spendEnd}}}};
    const json spendAndType = with(with(reached, spend), fiveHourUsedUp);
    const json weeklyAndSpend = with(weeklyUsedUp, spend);
    const json allowed = {{"ordinaryUsageAllowed", true}},
               notAllowed = {{"ordinaryUsageAllowed", false}},
               silent = {{"ordinaryUsageAllowed", nullptr}};
    const std::string limit = "limit_reached", rateLimit = "rate_limit_reached",
                      spent = "spend_control_reached";
    using enum QuotaWindow;
    const auto month = quotaWindowFromMinutes(43200);
    const struct {
        const char* name;
        json bucket, top;
        std::optional<std::string> reason, detail;
        std::optional<QuotaWindow> window;
        std::optional<double> until;
    } cases[] = {
        {"room in both", {}, {}, {}, {}, {}, {}},
        {"allowed says nothing of percentages", weeklyUsedUp, allowed, {}, {}, {}, {}},
        {"a used-up window when Codex is silent", weeklyUsedUp, {}, limit, {}, weekly, weekEnd},
        {"both used up: until the later reset", bothUsedUp, {}, limit, {}, weekly, weekEnd},
        {"reached, until the weekly reset", weeklyReached, {}, limit, rateLimit, weekly, weekEnd},
        {"reached with room in both", reached, {}, limit, rateLimit, {}, {}},
        {"credits come back with no reset", ownerCredits, {}, limit, owner, {}, {}},
        {"an unknown word", {{"rateLimitReachedType", "new_reason"}}, {}, limit, "unknown", {}, {}},
        {"not allowed with room in both", {}, notAllowed, "usage_not_allowed", {}, {}, {}},
        {"spend control", spend, {}, spent, {}, {}, spendEnd},
        {"a used-up 30-day window", monthUsedUp, silent, limit, {}, month, monthEnd},
        {"a used-up 30-day window, Codex says allowed", monthUsedUp, allowed, {}, {}, {}, {}},
        {"spend and a reached type", spendAndType, {}, limit, rateLimit, {}, spendEnd},
        {"spend, and a window used up for longer", weeklyAndSpend, {}, spent, {}, weekly, weekEnd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<BlockedState> state = BlockedState::of(reading(c.bucket, c.top));
        ASSERT_EQ(state.has_value(), c.reason.has_value());
        if (!state) {
            continue;
        }
        EXPECT_EQ(state->reason, *c.reason);
        EXPECT_EQ(state->detail, c.detail);
        EXPECT_EQ(state->window, c.window);
        EXPECT_EQ(state->until ? std::optional(unixSeconds(*state->until)) : std::nullopt, c.until);
        EXPECT_EQ(unixSeconds(*state->earliestReset), fiveHourEnd);
    }

    // The text names what lasts longest: the spend limit, or the window used up for longer.
    const std::pair<json, std::string> texts[] = {
        {ownerCredits, "Workspace credits used up — add credits to the workspace"},
        {{{"rateLimitReachedType", "workspace_member_usage_limit_reached"}},
         "Workspace usage limit reached — ask the workspace owner"},
        {weeklyReached, "Weekly limit reached — resets "},
        {spendAndType, "Spend limit reached — resets "},
        {weeklyAndSpend, "Weekly limit reached — resets "},
    };
    for (const auto& [bucket, text] : texts) {
        const auto shown = BlockedState::of(reading(bucket))->text(dateFromUnixSeconds(1900290000));
        EXPECT_TRUE(shown.starts_with(text)) << shown;
    }
}

TEST(BlockedStateTest, OneOccurrenceAcrossWanderingResetTimes) {
    BlockedState a{"limit_reached", "rate_limit_reached", QuotaWindow::weekly,
                   dateFromUnixSeconds(1900300000), dateFromUnixSeconds(1900000000)};
    BlockedState b = a;
    b.until = *a.until + std::chrono::seconds(59);
    b.earliestReset = *a.earliestReset + std::chrono::hours(5);  // the five-hour window reset
    EXPECT_TRUE(a.sameOccurrence(b));
    b.until = *a.until + std::chrono::seconds(61);
    EXPECT_FALSE(a.sameOccurrence(b));
    BlockedState c{"usage_not_allowed", {}, {}, {}, dateFromUnixSeconds(1900000000)};
    BlockedState d = c;
    d.earliestReset = *c.earliestReset + std::chrono::seconds(30);
    EXPECT_TRUE(c.sameOccurrence(d));
    d.detail = "rate_limit_reached";
    EXPECT_FALSE(c.sameOccurrence(d));
}

}  // namespace
}  // namespace quotalume
