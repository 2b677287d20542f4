#include "test_support.hpp"

#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/webhook/webhook_payload.hpp>
#include <quotalume/webhook/webhook_request_builder.hpp>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using std::chrono::minutes;

const Date start = dateFromUnixSeconds(1900000000);
const Date fiveHourReset = start + std::chrono::hours(3);
const Date weeklyReset = start + std::chrono::days(4);

UsageSnapshot reading(Date at, double fiveHourUsed, double weeklyUsed = 20,
                      Date fiveHourResetsAt = fiveHourReset) {
    RateBucket bucket{.limitId = "codex",
                      .primary = RateWindow{fiveHourUsed, 300, unixSeconds(fiveHourResetsAt)},
                      .secondary = RateWindow{weeklyUsed, 10080, unixSeconds(weeklyReset)}};
    return UsageSnapshot{at, "account", {bucket}};
}

// Feeds readings through the detector as the engine does, keeping what it issues.
struct Engine {
    std::string bucket = "codex";
    WarningPreferences preferences;
    std::vector<LimitWarning> issued;  // newest first
    std::map<QuotaWindow, Date> lastResets;
    std::optional<UsageSnapshot> previous;
    std::map<QuotaWindow, UsageForecast> forecasts;
    std::vector<CreditUse> creditUses;
    std::optional<Date> accountSince;

    std::vector<LimitWarning> read(const UsageSnapshot& now) {
        auto owed = detectWarnings({.reading = now,
                                    .bucket = bucket,
                                    .previous = previous ? &*previous : nullptr,
                                    .forecasts = forecasts,
                                    .preferences = preferences,
                                    .issued = issued,
                                    .lastResets = lastResets,
                                    .now = now.observedAt,
                                    .creditUses = creditUses,
                                    .accountSince = accountSince});
        issued.insert(issued.begin(), owed.begin(), owed.end());
        previous = now;
        return owed;
    }
    std::size_t count(WarningReason reason) const {
        return static_cast<std::size_t>(
            std::count_if(issued.begin(), issued.end(),
                          [&](const LimitWarning& w) { return w.reason == reason; }));
    }
    std::vector<std::int64_t> levels() const {
        std::vector<std::int64_t> found;
        for (const LimitWarning& warning : issued) {
            if (warning.reason == WarningReason::belowLevel) {
                found.insert(found.begin(), *warning.levelPercent);
            }
        }
        return found;
    }
};

TEST(LimitWarningTest, EachLevelOncePerOccurrenceAndAResetRearms) {
    struct Case {
        const char* name;
        std::vector<double> used;  // five-hour window, a reading a minute
        std::vector<std::int64_t> levels;
    };
    const Case cases[] = {
        {"a steady rise crosses each level once", {60, 70, 76, 80, 85, 91, 95}, {25, 10}},
        {"back and forth across a level warns once", {74, 76, 74, 76, 74, 76}, {25}},
        {"a jump past both warns of the lower only, and never of the higher later",
         {50, 92, 92, 80, 92},
         {10}},
        {"exactly at the level counts as reaching it", {75}, {25}},
        {"a used-up window is a blocked state, not a level", {100}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        for (std::size_t i = 0; i < c.used.size(); ++i) {
            engine.read(reading(start + minutes(i), c.used[i]));
        }
        EXPECT_EQ(engine.levels(), c.levels);
    }

    Engine engine;
    engine.read(reading(start, 80));
    ASSERT_EQ(engine.levels(), (std::vector<std::int64_t>{25}));
    // Codex's reset times wander by seconds: still the same occurrence.
    engine.read(reading(start + minutes(1), 80, 20, fiveHourReset + std::chrono::seconds(40)));
    EXPECT_EQ(engine.issued.size(), 1u);
    // A new window (another reset time) warns again, even in the reading that found its reset.
    const Date nextReset = fiveHourReset + std::chrono::hours(5);
    engine.lastResets[QuotaWindow::fiveHour] = start + std::chrono::hours(4);
    engine.read(reading(start + std::chrono::hours(4), 80, 20, nextReset));
    EXPECT_EQ(engine.levels(), (std::vector<std::int64_t>{25, 25}));
    engine.read(reading(start + std::chrono::hours(4) + minutes(1), 80, 20, nextReset));
    EXPECT_EQ(engine.levels(), (std::vector<std::int64_t>{25, 25}));
    // A reset recorded without a new reset time (restored to full) re-arms the occurrence too.
    engine.lastResets[QuotaWindow::fiveHour] = start + std::chrono::hours(4) + minutes(5);
    engine.read(reading(start + std::chrono::hours(4) + minutes(10), 80, 20, nextReset));
    EXPECT_EQ(engine.levels(), (std::vector<std::int64_t>{25, 25, 25}));

    // Used up while Codex still allows usage: no blocked state, so the lowest level speaks.
    Engine allowed;
    UsageSnapshot full = reading(start, 100);
    full.ordinaryUsageAllowed = true;
    allowed.read(full);
    EXPECT_EQ(allowed.levels(), (std::vector<std::int64_t>{10}));

    // What a receiver needs, and nothing else.
    Engine weekly;
    weekly.read(reading(start, 20, 91));
    ASSERT_EQ(weekly.issued.size(), 1u);
    EXPECT_EQ(weekly.issued[0].id.size(), 36u);
    EXPECT_EQ(weekly.issued[0], (LimitWarning{.id = weekly.issued[0].id,
                                              .observedAt = start,
                                              .window = QuotaWindow::weekly,
                                              .usedPercent = 91,
                                              .remainingPercent = 9,
                                              .resetAt = weeklyReset,
                                              .levelPercent = 10}));
}

TEST(LimitWarningTest, ForecastOncePerOccurrenceHoweverItWobbles) {
    Engine engine;
    engine.preferences.levels.clear();
    auto forecast = [&](std::optional<Date> runsOut) {
        engine.forecasts[QuotaWindow::fiveHour] = {runsOut, !runsOut};
    };
    forecast(std::nullopt);
    EXPECT_TRUE(engine.read(reading(start, 40)).empty());
    forecast(start + std::chrono::hours(2));
    ASSERT_EQ(engine.read(reading(start + minutes(1), 42)).size(), 1u);
    EXPECT_EQ(engine.issued[0].runsOutAt, start + std::chrono::hours(2));
    EXPECT_EQ(engine.issued[0].resetAt, fiveHourReset);
    for (int i = 2; i < 20; ++i) {  // later, then earlier, then lasting, then short again
        forecast(i % 3 == 0
                     ? std::nullopt
                     : std::optional(start + std::chrono::hours(2) + minutes(i % 2 ? 30 : -30)));
        EXPECT_TRUE(engine.read(reading(start + minutes(i), 42 + i)).empty()) << i;
    }
    // Running out after the reset, or in the past, is no warning; a new window warns again.
    Engine later;
    later.preferences.levels.clear();
    later.forecasts[QuotaWindow::fiveHour] = {fiveHourReset + minutes(1), false};
    EXPECT_TRUE(later.read(reading(start, 40)).empty());
    later.forecasts[QuotaWindow::fiveHour] = {start - minutes(1), false};
    EXPECT_TRUE(later.read(reading(start + minutes(1), 40)).empty());
    engine.forecasts[QuotaWindow::fiveHour] = {fiveHourReset + std::chrono::hours(4), false};
    EXPECT_EQ(engine
                  .read(reading(start + std::chrono::hours(4), 40, 20,
                                fiveHourReset + std::chrono::hours(5)))
                  .size(),
              1u);
}

// A blocked state has no switch: with no level and no forecast chosen it is still warned of.
TEST(LimitWarningTest, ABlockedStateOnceUntilItClears) {
    Engine engine;
    engine.preferences = {.levels = {}, .forecast = false};
    engine.forecasts[QuotaWindow::fiveHour] = {start + minutes(30), false};
    auto blocked = [](Date at, const char* type) {
        UsageSnapshot snapshot = reading(at, 50);
        snapshot.buckets[0].rateLimitReachedType = type;
        return snapshot;
    };
    auto first = engine.read(blocked(start, "rate_limit_reached"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].reason, WarningReason::limitReached);
    EXPECT_EQ(first[0].detail, "rate_limit_reached");
    EXPECT_TRUE(engine.read(blocked(start + minutes(1), "rate_limit_reached")).empty());
    // Without the reading before (a new source, a first start), the last one warned of counts.
    engine.previous.reset();
    EXPECT_TRUE(engine.read(blocked(start + minutes(1), "rate_limit_reached")).empty());
    // Another reason is another state.
    EXPECT_EQ(engine.read(blocked(start + minutes(2), "workspace_member_credits_depleted")).size(),
              1u);
    // Cleared, then blocked again for the same reason: re-armed.
    EXPECT_TRUE(engine.read(reading(start + minutes(3), 99)).empty());
    EXPECT_EQ(engine.read(blocked(start + minutes(4), "workspace_member_credits_depleted")).size(),
              1u);
    // Usage not allowed with room in both windows.
    UsageSnapshot refused = reading(start + minutes(5), 10, 10);
    refused.ordinaryUsageAllowed = false;
    auto notAllowed = engine.read(refused);
    ASSERT_EQ(notAllowed.size(), 1u);
    EXPECT_EQ(notAllowed[0].reason, WarningReason::usageNotAllowed);
    EXPECT_FALSE(notAllowed[0].window);
}

// A model's bucket is warned of by its own limits, each once: Codex's warnings never silence
// Spark's, and Spark used up never makes the account blocked.
TEST(LimitWarningTest, AnotherBucketIsWarnedOfByItsOwnLimits) {
    test::InterfaceLanguage english;
    Engine engine;
    const auto read = [&](int minute, double sparkUsed, const char* bucket) {
        UsageSnapshot snapshot = reading(start + minutes(minute), 80);  // Codex past 25 %
        snapshot.ordinaryUsageAllowed = true;
        snapshot.buckets.push_back(RateBucket{
            "codex_bengalfox", "GPT-5.3-Codex-Spark",
            RateWindow{sparkUsed, 300, unixSeconds(fiveHourReset)}, RateWindow{10, 10080}});
        engine.bucket = bucket;
        return engine.read(snapshot);
    };
    ASSERT_EQ(read(0, 10, "codex").size(), 1u) << "Codex's own level";
    EXPECT_TRUE(read(0, 10, "codex_bengalfox").empty());

    const auto level = read(1, 80, "codex_bengalfox");
    ASSERT_EQ(level.size(), 1u);
    EXPECT_EQ(level[0].bucketId, "codex_bengalfox");
    EXPECT_EQ(level[0].bucketName, "GPT-5.3-Codex-Spark");
    EXPECT_EQ(level[0].levelPercent, 25);
    EXPECT_EQ(level[0].title(), "GPT-5.3-Codex-Spark: 5-hour limit: Codex limit running low");
    EXPECT_TRUE(read(2, 80, "codex_bengalfox").empty()) << "once";
    EXPECT_TRUE(read(2, 80, "codex").empty());

    // Used up: blocked though Codex says the account may work, and only Spark.
    const auto blocked = read(3, 100, "codex_bengalfox");
    ASSERT_EQ(blocked.size(), 1u);
    EXPECT_EQ(blocked[0].reason, WarningReason::limitReached);
    EXPECT_EQ(blocked[0].bucketId, "codex_bengalfox");
    EXPECT_EQ(blocked[0].resetAt, fiveHourReset);
    EXPECT_TRUE(read(4, 100, "codex_bengalfox").empty()) << "once";
    EXPECT_TRUE(read(4, 100, "codex").empty());
}

TEST(LimitWarningTest, ABankedResetThreeDaysBeforeItExpiresOnce) {
    Engine engine;
    UsageSnapshot snapshot = reading(start, 10);
    snapshot.resetCredits = ResetCreditsSummary{
        3,
        {{"far", "available", unixSeconds(start + std::chrono::days(5)), std::nullopt},
         {"soon", "available", unixSeconds(start + std::chrono::days(2)), "Reset"},
         {"spent", "redeemed", unixSeconds(start + std::chrono::days(1)), std::nullopt},
         {"never", "available", std::nullopt, std::nullopt}}};
    auto owed = engine.read(snapshot);
    ASSERT_EQ(owed.size(), 1u);
    EXPECT_EQ(owed[0].reason, WarningReason::resetCreditExpiring);
    EXPECT_EQ(owed[0].detail, "soon");
    EXPECT_EQ(owed[0].creditExpiresAt, start + std::chrono::days(2));
    snapshot.observedAt = start + std::chrono::hours(1);
    EXPECT_TRUE(engine.read(snapshot).empty()) << "each credit once";
    snapshot.observedAt = start + std::chrono::days(2) + std::chrono::hours(1);
    owed = engine.read(snapshot);
    ASSERT_EQ(owed.size(), 1u);
    EXPECT_EQ(owed[0].detail, "far");
}

// A reset time moving later is told once per move; the occurrence, and what was warned of, stay.
TEST(LimitWarningTest, AResetThatMovesLaterOncePerMoveAndTheOccurrenceStays) {
    using std::chrono::hours;
    using std::chrono::seconds;
    struct Step {
        double used;
        Date::duration shift;  // of the five-hour reset
    };
    const struct {
        const char* name;
        std::vector<Step> steps;  // a reading a minute
        std::size_t moves;
        std::vector<std::int64_t> levels;
        bool switchedOff = false;
    } rows[] = {
        {"moving twice warns twice", {{80, {}}, {80, hours(1)}, {81, hours(2)}}, 2, {25}},
        {"a wobble, never", {{80, {}}, {80, seconds(40)}, {80, minutes(4)}}, 0, {25}},
        {"a move with a fall in usage never", {{80, {}}, {60, hours(1)}}, 0, {25}},
        {"a move earlier never", {{80, {}}, {80, -hours(1)}}, 0, {25}},
        {"a window not yet used moves on with the clock", {{0, {}}, {0, hours(1)}}, 0, {}},
        {"a whole window later is a new occurrence", {{80, {}}, {80, hours(5)}}, 0, {25, 25}},
        {"switched off, never, and still the same occurrence",
         {{80, {}}, {92, hours(2)}, {92, hours(3)}},
         0,
         {25, 10},
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Engine engine;
        engine.preferences.resetMoved = !row.switchedOff;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            engine.read(reading(start + minutes(i), row.steps[i].used, 20,
                                fiveHourReset + row.steps[i].shift));
        }
        EXPECT_EQ(engine.count(WarningReason::resetMoved), row.moves);
        EXPECT_EQ(engine.levels(), row.levels);
    }

    Engine engine;
    engine.read(reading(start, 50));
    const auto owed = engine.read(reading(start + minutes(1), 50, 20, fiveHourReset + hours(2)));
    ASSERT_EQ(owed.size(), 1u);
    EXPECT_EQ(owed[0].reason, WarningReason::resetMoved);
    EXPECT_EQ(owed[0].window, QuotaWindow::fiveHour);
    EXPECT_EQ(owed[0].previousResetAt, fiveHourReset);
    EXPECT_EQ(owed[0].resetAt, fiveHourReset + hours(2));
    // A reset recorded between the readings is no move.
    engine.lastResets[QuotaWindow::fiveHour] = start + minutes(2);
    EXPECT_TRUE(engine.read(reading(start + minutes(3), 50, 20, fiveHourReset + hours(4))).empty());

    // Another account's warning (from before this one's readings began) is of this occurrence
    // only for the same reset time, give or take Codex's wandering seconds.
    const struct {
        bool ours;
        Date::duration shift;
        std::size_t warned;
    } accounts[] = {{true, hours(1), 1}, {false, hours(1), 2}, {false, seconds(40), 1}};
    for (const auto& [ours, shift, warned] : accounts) {
        Engine other;
        other.read(reading(start, 80));
        other.previous.reset();
        other.accountSince = start + minutes(ours ? -1 : 1);
        other.read(reading(start + minutes(2), 80, 20, fiveHourReset + shift));
        EXPECT_EQ(other.levels().size(), warned) << ours << " " << shift.count();
    }

    // Used up: the block is warned of once, its end moving is a move, not a new block.
    Engine blocked;
    blocked.read(reading(start, 100));
    blocked.read(reading(start + minutes(1), 100, 20, fiveHourReset + hours(1)));
    EXPECT_EQ(blocked.count(WarningReason::limitReached), 1u);
    EXPECT_EQ(blocked.count(WarningReason::resetMoved), 1u);
}

// A banked reset that leaves the available ones while their count falls, and resets nothing
// within ten minutes, is warned of once; a reset from shortly before it was seen settles it.
TEST(LimitWarningTest, ASpentBankedResetThatResetsNothingOnce) {
    const ResetCreditsSummary before{
        2, {{"c1", "available", std::nullopt, "Spring reset"}, {"c2", "available", {}, {}}}};
    ResetCreditsSummary expiring = before;
    expiring.credits[0].expiresAt = unixSeconds(start);
    const struct {
        const char* name;
        ResetCreditsSummary after;
        std::vector<std::string> spent;
        const ResetCreditsSummary* from = nullptr;  // else `before`
    } rows[] = {
        {"gone from the list", {1, {{"c2", "available", {}, {}}}}, {"c1"}},
        {"being redeemed", {1, {{"c1", "redeeming", {}, {}}, {"c2", "available", {}, {}}}}, {"c1"}},
        {"redeemed", {1, {{"c1", "redeemed", {}, {}}, {"c2", "available", {}, {}}}}, {"c1"}},
        {"the count did not fall", {2, {{"c2", "available", {}, {}}}}, {}},
        {"gone when it expired", {1, {{"c2", "available", {}, {}}}}, {}, &expiring},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> ids;
        for (const CreditUse& use :
             CreditUse::spent(row.from ? *row.from : before, row.after, start)) {
            EXPECT_EQ(use.seenAt, start);
            ids.push_back(use.id);
        }
        EXPECT_EQ(ids, row.spent);
    }
    EXPECT_EQ(CreditUse::spent(before, rows[0].after, start).at(0).title, "Spring reset");

    const struct {
        const char* name;
        std::optional<Date> reset;  // of the five-hour window
        bool switchedOff;
        std::size_t warned;
        double usedBefore = 10;  // the five-hour window's share before the credit went
    } settle[] = {
        {"nothing reset", std::nullopt, false, 1},
        {"a reset a minute before it was seen", start - minutes(1), false, 0},
        {"a reset five minutes after", start + minutes(5), false, 0},
        {"only a reset long before", start - std::chrono::hours(2), false, 1},
        {"switched off", std::nullopt, true, 0},
        {"a share below where it stood, no reset recorded", std::nullopt, false, 0, 100},
    };
    for (const auto& row : settle) {
        SCOPED_TRACE(row.name);
        Engine engine;
        engine.preferences.creditNotApplied = !row.switchedOff;
        engine.creditUses = {{"c1", "Spring reset", start, {{300, row.usedBefore}}}};
        if (row.reset) {
            engine.lastResets[QuotaWindow::fiveHour] = *row.reset;
        }
        EXPECT_TRUE(engine.read(reading(start + minutes(9), 10)).empty()) << "before its time";
        engine.read(reading(start + minutes(10), 10));
        engine.read(reading(start + minutes(11), 10));
        ASSERT_EQ(engine.count(WarningReason::creditNotApplied), row.warned);
        if (row.warned > 0) {
            EXPECT_EQ(engine.issued[0].detail, "c1");
            EXPECT_EQ(engine.issued[0].creditTitle, "Spring reset");
        }
    }
}

// Sorting, "none" and a level that cannot be chosen are tested with the config keys.
TEST(WarningPreferencesTest, LevelsReadAndWrittenAsTheConfigKeyTakesThem) {
    const std::pair<const char*, std::optional<std::vector<std::int64_t>>> cases[] = {
        {" 5, 50 ,25,5", std::vector<std::int64_t>{50, 25, 5}},
        {"", std::vector<std::int64_t>{}},
        {"25,", std::nullopt},
        {"25;10", std::nullopt},
        {"+25", std::nullopt},
    };
    for (const auto& [text, levels] : cases) {
        EXPECT_EQ(WarningPreferences::parseLevels(text), levels) << text;
    }
    MemoryPreferencesStore store;
    store.setString(WarningPreferences::levelsKey, "7");
    store.setString(WarningPreferences::forecastKey, "maybe");
    store.setString(WarningPreferences::bucketsKey, "spark,\x1b[2J");
    EXPECT_EQ(WarningPreferences::load(store).levels, WarningPreferences{}.levels);
    EXPECT_TRUE(WarningPreferences::load(store).forecast);
    EXPECT_TRUE(WarningPreferences::load(store).buckets.empty()) << "unreadable: the default";

    // Which buckets are announced: the Codex bucket always, listed, every window of it.
    const struct {
        const char* text;
        bool codex, spark, other;
    } lists[] = {
        {"", false, false, false},
        {"all", true, true, true},
        {" codex_spark ", false, true, false},
        {"codex, codex_spark", true, true, false},
    };
    for (const auto& row : lists) {
        SCOPED_TRACE(row.text);
        WarningPreferences chosen;
        ASSERT_TRUE(chosen.parseBuckets(row.text));
        EXPECT_EQ(chosen.lists("codex"), row.codex);
        EXPECT_EQ(chosen.lists("codex_spark"), row.spark);
        EXPECT_EQ(chosen.lists("other"), row.other);
    }
}

TEST(LimitWarningTest, StoredFormReadsBackAndRefusesWhatWeNeverWrite) {
    const LimitWarning warning{.id = "0F8FAD5B-D9CB-469F-A165-70867728950E",
                               .observedAt = start,
                               .reason = WarningReason::forecastExhausted,
                               .window = QuotaWindow::weekly,
                               .usedPercent = 81.5,
                               .remainingPercent = 18.5,
                               .resetAt = weeklyReset,
                               .runsOutAt = start + std::chrono::hours(30)};
    EXPECT_EQ(nlohmann::json(warning).get<LimitWarning>(), warning);
    for (const char* broken :
         {R"({"id":"a","observedAt":1,"bucketId":"codex","bucketName":"Codex","reason":"soon"})",
          R"({"id":"a","observedAt":1,"bucketId":"codex","bucketName":"Codex",)"
          R"("reason":"below_level","window":0})",
          R"({"id":"a\nb","observedAt":1,"bucketId":"codex","bucketName":"Codex",)"
          R"("reason":"below_level"})",
          R"({"observedAt":1,"bucketId":"codex","bucketName":"Codex","reason":"below_level"})"}) {
        EXPECT_THROW(nlohmann::json::parse(broken).get<LimitWarning>(), JSONDecodingError)
            << broken;
    }
}

// The payload: members in key order as for resets, only those that apply, dates in UTC.
TEST(WarningPayloadTest, EveryFormatsBytesWithBothSignatures) {
    test::InterfaceLanguage english;
    LimitWarning warning{.id = "0F8FAD5B-D9CB-469F-A165-70867728950E",
                         .observedAt = test::sampleTime(),
                         .window = QuotaWindow::fiveHour,
                         .usedPercent = 90.5,
                         .remainingPercent = 9.5,
                         .levelPercent = 10};
    const std::string message = R"(Codex limit running low\n9% left.\n5-hour limit)";
    const std::string json =
        R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.limit.warning",)"
        R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E","level_percent":10,)"
        R"("message":")" +
        message +
        R"(","observed_at":"2026-03-01T08:15:00Z","reason":"below_level",)"
        R"("remaining_percent":9.5,"schema_version":1,"used_percent":90.5,)"
        R"("window":"five_hour","window_duration_mins":300})";
    const WarningPayload payload(warning);
    EXPECT_EQ(payload.encoded(), json);
    // The chat formats wrap a warning's message as they do a reset's; Feishu's is signed.
    EXPECT_EQ(
        webhookBody(payload, {"https://x.example/hook", WebhookFormat::feishu, "", "s3cr3t/+"},
                    test::sampleDeliveryTime()),
        R"({"content":{"text":")" + message +
            R"("},"msg_type":"text","sign":"oQgEdr\/HpJFg5qne6ukXXykjxCDZRWmqYXMLo5+8YhU=",)"
            R"("timestamp":"1772352907"})");

    // Every member that applies to some warning, and the rest left out.
    warning.reason = WarningReason::resetCreditExpiring;
    warning.window.reset();
    warning.usedPercent.reset();
    warning.remainingPercent.reset();
    warning.levelPercent.reset();
    warning.detail = "credit/1";
    warning.creditExpiresAt = dateFromUnixSeconds(1772439300);
    warning.resetAt = dateFromUnixSeconds(1772370900);
    warning.runsOutAt = dateFromUnixSeconds(1772360100);
    const std::string all = WarningPayload(warning).encoded();
    EXPECT_NE(all.find(R"("credit_expires_at":"2026-03-02T08:15:00Z","detail":"credit/1",)"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find(R"("reason":"reset_credit_expiring","reset_at":"2026-03-01T13:15:00Z",)"
                       R"("runs_out_at":"2026-03-01T10:15:00Z","schema_version":1})"),
              std::string::npos)
        << all;
    EXPECT_EQ(all.find("window"), std::string::npos);

    // A moved reset carries both times as a reset's payload does; a spent credit its name.
    const LimitWarning moved{.id = "0F8FAD5B-D9CB-469F-A165-70867728950E",
                             .observedAt = test::sampleTime(),
                             .reason = WarningReason::resetMoved,
                             .window = QuotaWindow::weekly,
                             .usedPercent = 40,
                             .remainingPercent = 60,
                             .resetAt = dateFromUnixSeconds(1772611200),
                             .previousResetAt = dateFromUnixSeconds(1772438400)};
    EXPECT_EQ(WarningPayload(moved).encoded(),
              R"({"bucket_id":"codex","bucket_name":"Codex","event":"codex.limit.warning",)"
              R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E","message":"Codex reset time )"
              R"(moved\nNow resets 3/4/26, 8:00)"
              "\u202f"
              R"(AM, no longer 3/2/26, 8:00)"
              "\u202f"
              R"(AM.\n)"
              R"(Weekly limit","next_reset_at":"2026-03-04T08:00:00Z",)"
              R"("observed_at":"2026-03-01T08:15:00Z","previous_reset_at":"2026-03-02T08:00:00Z",)"
              R"("reason":"reset_moved","remaining_percent":60,"reset_at":"2026-03-04T08:00:00Z",)"
              R"("schema_version":1,"used_percent":40,"window":"weekly",)"
              R"("window_duration_mins":10080})");
    const LimitWarning unapplied{.id = "0F8FAD5B-D9CB-469F-A165-70867728950E",
                                 .observedAt = test::sampleTime(),
                                 .reason = WarningReason::creditNotApplied,
                                 .detail = "credit-7",
                                 .creditTitle = "Spring reset"};
    EXPECT_EQ(WarningPayload(unapplied).encoded(),
              R"({"bucket_id":"codex","bucket_name":"Codex","credit_title":"Spring reset",)"
              R"("detail":"credit-7","event":"codex.limit.warning",)"
              R"("event_id":"0F8FAD5B-D9CB-469F-A165-70867728950E","message":"Banked reset not )"
              R"(applied\n“Spring reset” was used, but no limit has reset.",)"
              R"("observed_at":"2026-03-01T08:15:00Z","reason":"reset_credit_not_applied",)"
              R"("schema_version":1})");

    // Signed and named as a reset's request is: the warning's id, HMAC over "TIMESTAMP.BODY".
    const WebhookRequest request = WebhookRequestBuilder::build(
        warning, {"https://x.example/hook", WebhookFormat::json, "", "s3cret"}, false,
        test::sampleDeliveryTime());
    EXPECT_EQ(request.body, all);
    EXPECT_EQ(*request.header("Idempotency-Key"), warning.id);
    EXPECT_EQ(*request.header("X-Quotalume-Event-ID"), warning.id);
    EXPECT_EQ(*request.header("X-Quotalume-Signature"),
              "sha256=" + test::hmacSHA256Hex("s3cret", "1772352907." + all));
}

}  // namespace
}  // namespace quotalume
