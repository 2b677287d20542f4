#include "reading_view.hpp"

#include "test_support.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/support/bounded_json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace quotalume::cli {
namespace {

using nlohmann::json;

const Date now = dateFromUnixSeconds(1796000000);  // 2026-11-30T00:53:20Z

EngineReading reading(double fiveHourUsed, bool stale = false) {
    RateBucket bucket{.limitId = "codex",
                      .primary = RateWindow{fiveHourUsed, 300, 1796003600},
                      .secondary = RateWindow{34, 10080, 1796300000},
                      .planType = "plus",
                      .credits = CreditsSnapshot{true, false, " 1234.50 \n"}};
    return {.snapshot =
                UsageSnapshot{
                    now - std::chrono::seconds(20), std::string(64, 'a'), {bucket}, std::nullopt},
            .stale = stale,
            .error = stale ? std::optional(LocalizedMessage("status.error")) : std::nullopt,
            .forecasts = {{QuotaWindow::fiveHour, {now + std::chrono::minutes(42), false}},
                          {QuotaWindow::weekly, {std::nullopt, true}}}};
}

// Codex takes no usage: the weekly window is used up while the five-hour one has room.
EngineReading blocked() {
    EngineReading weeklyUsedUp = reading(12);
    weeklyUsedUp.snapshot->buckets[0].secondary->usedPercent = 100;
    weeklyUsedUp.snapshot->buckets[0].rateLimitReachedType = "rate_limit_reached";
    return weeklyUsedUp;
}

// Old figures with nothing gone wrong: the engine has not read for too long.
EngineReading old(double fiveHourUsed) {
    EngineReading aged = reading(fiveHourUsed);
    aged.stale = true;
    return aged;
}

// A 30-day window in the weekly one's place.
EngineReading monthly() {
    EngineReading month = reading(12);
    month.snapshot->buckets[0].secondary = RateWindow{99.5, 43200, 1796000000 + 20 * 86400 + 1};
    month.forecasts.erase(QuotaWindow::weekly);
    return month;
}

// Codex could not reach its servers: the last figures, stale, said as offline.
EngineReading offline() {
    EngineReading old = reading(50, true);
    old.error = LocalizedMessage("error.offline", {"workspace routing discovery failed"});
    return old;
}

// Every form of a reading as each command prints it, in one file that changes only with them.
// QUOTALUME_UPDATE_GOLDEN=1 writes it anew.
TEST(ReadingViewTest, EveryFormMatchesItsGoldenFile) {
    test::InterfaceLanguage english;
    const EngineReading unread{.error = LocalizedMessage("error.executable")};
    const struct {
        const char* name;
        EngineReading reading;
        std::vector<std::string> options;
    } rows[] = {
        {"text", reading(12), {}},
        {"short", reading(12), {"--short"}},
        {"template",
         reading(12),
         {"--format",
          "{{{five_hour.left_percent}}} {weekly.resets_in} {plan} {credits.balance} {error.key} "
          "{five_hour.pace_points} {five_hour.forecast.runs_out_at} "
          "{weekly.forecast.lasts_until_reset}"}},
        {"json", reading(12), {"--json"}},
        {"waybar", reading(12), {"--waybar"}},
        {"waybar low", reading(60), {"--waybar"}},
        {"waybar, a 30-day window", monthly(), {"--waybar"}},
        {"waybar, stale", old(12), {"--waybar"}},
        {"waybar, critical after a failure", reading(95.5, true), {"--waybar"}},
        {"waybar, offline", offline(), {"--waybar"}},
        {"bar template",
         reading(12),
         {"--format",
          "{stale_mark}5H {5h.left} {5h.resets_short} · 7D {weekly.left} {7d.resets_short}"}},
        {"bar template, a 30-day window",
         monthly(),
         {"--format",
          "{stale_mark}5H {five_hour.left} · 30D {30d.left} {30d.resets_short} "
          "{weekly.resets_short}"}},
        {"bar template, stale", old(12), {"--format", "{stale_mark}5H {5h.left}"}},
        {"i3blocks critical", reading(95.5), {"--i3blocks"}},
        {"stale after a failure, json", reading(50, true), {"--json"}},
        {"stale after a failure, waybar short", reading(50, true), {"--waybar", "--short"}},
        {"stale after a failure, i3blocks", reading(50, true), {"--i3blocks"}},
        {"offline", offline(), {}},
        {"offline, i3blocks", offline(), {"--i3blocks"}},
        {"offline, i3blocks template",
         offline(),
         {"--i3blocks", "--format", "{stale_mark}{five_hour.left} {five_hour.resets_short}"}},
        {"stale, i3blocks", old(12), {"--i3blocks"}},
        {"nothing read yet", unread, {}},
        {"nothing read yet, waybar", unread, {"--waybar"}},
        {"nothing read yet, i3blocks", EngineReading{}, {"--i3blocks"}},
        {"nothing read yet, bar template",
         unread,
         {"--format", "{stale_mark}5H {5h.left} {5h.resets_short}"}},
        {"blocked", blocked(), {}},
        {"blocked, json", blocked(), {"--json"}},
        {"blocked, waybar", blocked(), {"--waybar"}},
        {"blocked, i3blocks", blocked(), {"--i3blocks"}},
        {"blocked, template", blocked(), {"--format", "{blocked.reason} {blocked.until}"}},
    };
    std::string printed;
    for (const auto& row : rows) {
        Arguments arguments(row.options);
        const ViewOptions view = ViewOptions::read(arguments);
        printed += std::string("# ") + row.name + "\n" + watchLine(row.reading, now, view) + "\n";
        if (view.form == ViewOptions::Form::i3blocks) {
            printed += i3blocksLines(row.reading, now, view) +
                       "urgent: " + (isCritical(row.reading) ? "yes" : "no") + "\n";
        }
        // What an engine sends reads back as what it was, passed on by an engine.
        EngineReading relayed = row.reading;
        relayed.source = "engine";
        EXPECT_EQ(EngineReading::fromMessage(parseBoundedJSON(row.reading.message(now).dump())),
                  relayed)
            << row.name;
    }
    const std::string golden = QUOTALUME_TEST_DATA_DIR "/cli/views.golden";
    if (std::getenv("QUOTALUME_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(golden) << printed;
    }
    std::ifstream stored(golden);
    EXPECT_EQ(printed, std::string(std::istreambuf_iterator<char>(stored), {}));
}

// A path of another encoding in a message, or more digits than a JSON number holds, from
// outside: the record still prints.
TEST(ReadingViewTest, TextThatIsNotUTF8AndAHugeBalanceStillPrint) {
    test::InterfaceLanguage english;
    EngineReading odd = reading(12);
    odd.error = LocalizedMessage("error.preferences_unreadable", {"/home/\xe9t\xe9/defaults.json"});
    odd.snapshot->buckets[0].credits->balance = std::string(400, '9');
    Arguments arguments({"--json"});
    const json record = json::parse(watchLine(odd, now, ViewOptions::read(arguments)));
    EXPECT_EQ(record["credits"]["balance"], nullptr);
    EXPECT_EQ(record["credits"]["text"], L10n::text("credits.more_than", "999,999,999,999"));
    EXPECT_NE(record["error"]["message"].get<std::string>().find("\uFFFD"), std::string::npos);
}

TEST(ReadingViewTest, OptionsThatCannotBeHonouredAreUsageErrors) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* said;
    } rows[] = {
        {"two forms", {"--json", "--i3blocks"}, "exclude each other"},
        {"json shortened", {"--json", "--short"}, "whole record"},
        {"short and a template", {"--short", "--format", "{plan}"}, "exclude each other"},
        {"an unknown member", {"--format", "{five_hour.remaining}"}, "{five_hour.remaining}"},
        {"a window of no such length", {"--format", "{monthly.left_percent}"}, "{monthly"},
        {"a length in another unit than its own", {"--format", "{300m.left}"}, "{300m.left}"},
        {"a short countdown of the record", {"--format", "{resets_short}"}, "{resets_short}"},
        {"the stale mark of a window", {"--format", "{5h.stale_mark}"}, "{5h.stale_mark}"},
        {"a brace left open", {"--format", "{plan"}, "without its '}'"},
    };
    for (const auto& row : rows) {
        Arguments arguments(row.options);
        try {
            ViewOptions::read(arguments);
            ADD_FAILURE() << row.name << " was accepted";
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find(row.said), std::string::npos)
                << row.name << ": " << error.what();
        }
    }
}

// What a bar's template prints of one window: the share left rounded down as the tray writes
// it, and the countdown in short, turning over where the long one does.
TEST(ReadingViewTest, ABarTemplateGivesTheTraysShareAndTheShortCountdown) {
    test::InterfaceLanguage english;
    const struct {
        const char* name;
        std::optional<double> used;
        std::optional<double> resetIn;  // seconds from now
        const char* shown;
    } rows[] = {
        {"two thirds", 33.3, 30, "66% 1m"},
        {"a sliver", 99.5, 3540, "<1% 59m"},
        {"nothing", 100, 3541, "0% 1h 0m"},
        {"all", 0, 2 * 3600 + 5 * 60, "100% 2h 5m"},
        {"days and hours", 50, 2 * 86400 + 5 * 3600, "50% 2d 5h"},
        {"due", 50, -30, "50% 0m"},
        {"no reset time", 50, std::nullopt, "50% "},
        {"no figure", std::nullopt, 600, "\u2014 10m"},
    };
    for (const auto& row : rows) {
        EngineReading one = reading(12);
        one.snapshot->buckets[0].primary = RateWindow{
            row.used, 300, row.resetIn ? std::optional(1796000000 + *row.resetIn) : std::nullopt};
        Arguments arguments({"--format", "{5h.left} {five_hour.resets_short}"});
        EXPECT_EQ(watchLine(one, now, ViewOptions::read(arguments)), row.shown) << row.name;
    }
}

TEST(ReadingViewTest, AMessageThatIsNoReadingIsRefused) {
    for (const char* text : {"[]", R"({"stale":false})", R"({"stale":1,"view":{}})",
                             R"({"stale":false,"view":{"demo":false,"refreshing":false,
                                 "warnings":"x","scope":"both","snapshot":null}})",
                             R"({"stale":false,"error":{"key":7},"view":{"demo":false,
                                 "refreshing":false,"warnings":[],"scope":"both"}})"}) {
        EXPECT_THROW(EngineReading::fromMessage(parseBoundedJSON(text)), JSONDecodingError) << text;
    }
}

// The engine sends a reading as one line its views read up to a bound: the longest answer Codex
// can give, every bucket and every text as long as it is taken in, still fits.
TEST(ReadingViewTest, TheLargestReadingFitsTheEnginesLine) {
    const std::string longest(300, 'x');
    nlohmann::json map = nlohmann::json::object();
    for (int i = 0; i < 40; ++i) {
        const nlohmann::json window = {{"usedPercent", 33.333333333333336},
                                       {"windowDurationMins", 43199 - i},
                                       {"resetsAt", 1900000000.123456}};
        map[(i == 0 ? std::string("codex") : std::string(60, 'a') + std::to_string(i))] = {
            {"limitName", std::string(128, 'n')},
            {"planType", longest},
            {"primary", window},
            {"secondary", window},
            {"credits", {{"hasCredits", true}, {"unlimited", false}, {"balance", longest}}},
            {"rateLimitReachedType", "workspace_member_usage_limit_reached"},
            {"spendControlReached", true},
            {"individualLimit",
             {{"limit", std::string(128, '9')},
              {"used", std::string(128, '9')},
              {"remainingPercent", 0.000001},
              {"resetsAt", 1900000000.5}}}};
    }
    const RateLimitsResponse answer =
        nlohmann::json{{"rateLimitsByLimitId", map}}.get<RateLimitsResponse>();
    EngineReading reading;
    reading.snapshot =
        UsageSnapshot{dateFromUnixSeconds(1899990000), std::string(64, 'f'), answer.buckets()};
    reading.error = LocalizedMessage("error.rpc_said", {"account/read", "-32603", longest});
    const std::string line = jsonText(reading.message(dateFromUnixSeconds(1899990000)));
    EXPECT_EQ(reading.snapshot->buckets.size(), RateLimitsResponse::maximumBuckets);
    EXPECT_LT(line.size(), engine_socket::largestMessage);
}

}  // namespace
}  // namespace quotalume::cli
