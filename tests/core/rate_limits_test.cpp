#include "test_support.hpp"

#include <quotalume/usage/rate_limits.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quotalume {
namespace {

using nlohmann::json;

RateLimitsResponse decode(const char* text) {
    return json::parse(text).get<RateLimitsResponse>();
}

TEST(RateLimitsDecodingTest, ReadsTheWireShape) {
    EXPECT_EQ(decode("{}"), RateLimitsResponse{});
    EXPECT_EQ(decode(R"({"rateLimits":null,"accountId":null,"somethingNew":[1]})"),
              RateLimitsResponse{});

    auto response = decode(R"({"accountId":"acc","rateLimits":{"limitId":"codex","planType":"pro",
        "primary":{"usedPercent":12,"windowDurationMins":300,"resetsAt":1760000000},
        "secondary":{"usedPercent":5.5,"windowDurationMins":10080.0,"resetsAt":1760000000.5},
        "credits":{"hasCredits":true,"unlimited":false,"balance":"12.50"}}})");
    ASSERT_TRUE(response.rateLimits);
    const RateBucket& bucket = *response.rateLimits;
    EXPECT_EQ(response.accountId, "acc");
    EXPECT_EQ(bucket.primary->usedPercent, 12.0);
    EXPECT_EQ(bucket.primary->windowDurationMins, 300);
    EXPECT_EQ(bucket.secondary->windowDurationMins, 10080);
    EXPECT_EQ(unixSeconds(*bucket.primary->resetDate()), 1760000000.0);
    EXPECT_EQ(unixSeconds(*bucket.secondary->resetDate()), 1760000000.5);
    EXPECT_EQ(bucket.credits->balanceValue()->text(), "12.5");
    EXPECT_EQ(bucket.planType, "pro");

    // Writing leaves absent members out and reads back the same.
    json written = bucket;
    EXPECT_FALSE(written.contains("limitName"));
    EXPECT_EQ(written.get<RateBucket>(), bucket);
    json map = decode(R"({"rateLimitsByLimitId":{"codex":{},"other":{"limitName":"X"}}})");
    EXPECT_EQ(map,
              json::parse(R"({"rateLimitsByLimitId":{"codex":{},"other":{"limitName":"X"}}})"));
}

TEST(RateLimitsDecodingTest, AnyMismatchFailsTheWholeAnswer) {
    const std::pair<const char*, int> cases[] = {
        {R"({"rateLimits":{"credits":{"hasCredits":true}}})", 4865},
        {R"({"rateLimits":{"credits":{"hasCredits":true,"unlimited":null}}})", 4865},
        {R"({"rateLimits":{"credits":{"hasCredits":1,"unlimited":false}}})", 4864},
        {R"({"rateLimits":{"primary":{"usedPercent":"12"}}})", 4864},
        {R"({"rateLimits":{"primary":{"windowDurationMins":300.5}}})", 4864},
        {R"({"rateLimits":{"primary":{"windowDurationMins":1e30}}})", 4864},
        {R"({"rateLimits":{"primary":[]}})", 4864},
        {R"({"rateLimits":{"limitId":7}})", 4864},
        {R"({"rateLimits":"codex"})", 4864},
        {R"({"rateLimitsByLimitId":{"codex":null}})", 4865},
        {R"({"rateLimitsByLimitId":[]})", 4864},
        {R"([])", 4864},
    };
    for (const auto& [text, code] : cases) {
        EXPECT_EQ(test::decodingErrorOf([&] { decode(text); }), code) << text;
    }
}

TEST(RateLimitsBucketsTest, KeepsEveryBucketCodexFirst) {
    auto ids = [](const char* text) {
        std::vector<std::optional<std::string>> out;
        for (const auto& bucket : decode(text).buckets()) {
            out.push_back(bucket.limitId);
        }
        return out;
    };
    using Ids = std::vector<std::optional<std::string>>;
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{"codex":{"limitId":"other"},"x":{}}})"),
              (Ids{"codex", "x"}));
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{"b":{},"codex":{},"a":{"limitId":"z"}}})"),
              (Ids{"codex", "a", "b"}));
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{"x":{}},"rateLimits":{}})"), Ids{});
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{},"rateLimits":{}})"), Ids{std::nullopt});
    EXPECT_EQ(ids(R"({"rateLimits":{"limitId":"codex"}})"), Ids{"codex"});
    EXPECT_EQ(ids(R"({"rateLimits":{"limitId":"codex_other"}})"), Ids{});
    EXPECT_EQ(ids("{}"), Ids{});
}

// Ids are keys of the history and the timeline and names on screen: bounded like every text.
TEST(RateLimitsBucketsTest, BoundsTheOtherBuckets) {
    nlohmann::json map = {{"codex", {{"limitName", std::string(200, 'c')}}},
                          {"line\nbreak", nlohmann::json::object()},
                          {std::string(65, 'x'), nlohmann::json::object()},
                          {"long_name", {{"limitName", std::string(129, 'n')}}},
                          {"spark", {{"limitName", "GPT-5.3-Codex-Spark"}}}};
    for (int i = 0; i < 30; ++i) {
        map["z" + std::to_string(100 + i)] = nlohmann::json::object();
    }
    const auto buckets =
        nlohmann::json{{"rateLimitsByLimitId", map}}.get<RateLimitsResponse>().buckets();
    ASSERT_EQ(buckets.size(), RateLimitsResponse::maximumBuckets);
    EXPECT_EQ(buckets[0].title(), "Codex");
    EXPECT_EQ(buckets[0].limitName, std::nullopt) << "Codex's own is bounded too";
    EXPECT_EQ(buckets[1].id(), "long_name");
    EXPECT_EQ(buckets[1].title(), "long_name");  // a name too long to show is no name
    EXPECT_EQ(buckets[2].title(), "GPT-5.3-Codex-Spark");
    EXPECT_EQ(buckets[3].id(), "z100");
}

// Every name of a window comes from its length, and each id reads back to that length.
TEST(QuotaWindowTest, NamesAndIdsFromTheLength) {
    test::InterfaceLanguage english;
    const struct {
        std::int64_t minutes;
        const char* option;
        const char* record;
        const char* api;
        const char* shortTitle;
        const char* title;
    } rows[] = {
        {300, "5h", "five_hour", "five_hour", "5H", "5-hour limit"},
        {1440, "1d", "1d", "1_day", "1D", "1-day limit"},
        {10080, "7d", "weekly", "weekly", "7D", "Weekly limit"},
        {43200, "30d", "30d", "30_day", "30D", "30-day limit"},
        {90, "90m", "90m", "90_minute", "90M", "90-minute limit"},
        {45, "45m", "45m", "45_minute", "45M", "45-minute limit"},
        {120, "2h", "2h", "2_hour", "2H", "2-hour limit"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.minutes);
        const auto window = quotaWindowFromMinutes(row.minutes);
        ASSERT_TRUE(window);
        EXPECT_EQ(optionId(*window), row.option);
        EXPECT_EQ(recordId(*window), row.record);
        EXPECT_EQ(apiName(*window), row.api);
        EXPECT_EQ(shortTitle(*window), row.shortTitle);
        EXPECT_EQ(title(*window), row.title);
        EXPECT_EQ(quotaWindowFromOptionId(row.option), window);
        EXPECT_EQ(quotaWindowFromRecordId(row.record), window);
    }
    for (std::int64_t none : {0LL, -300LL, 527041LL}) {
        EXPECT_EQ(quotaWindowFromMinutes(none), std::nullopt) << none;
    }
    // Only a window's own id names it.
    for (const char* other :
         {"1440m", "24h", "168h", "7d ", "07d", "0m", "five_hour", "30x", "d", "99999999d"}) {
        EXPECT_EQ(quotaWindowFromOptionId(other), std::nullopt) << other;
    }
    EXPECT_EQ(quotaWindowFromRecordId("5h"), std::nullopt);
    EXPECT_EQ(quotaWindowFromRecordId("7d"), std::nullopt);
}

TEST(RateLimitsBucketsTest, FindsWindowsByExactDuration) {
    RateWindow five{2, 300}, almost{3, 299}, unknown{4};
    EXPECT_EQ((RateBucket{{}, {}, five, RateWindow{9, 300}}).window(QuotaWindow::fiveHour), five);
    EXPECT_EQ((RateBucket{{}, {}, almost, unknown}).window(QuotaWindow::fiveHour), std::nullopt);
    EXPECT_EQ((RateBucket{{}, {}, std::nullopt, RateWindow{5, 360}}).window(QuotaWindow::fiveHour),
              std::nullopt);
}

TEST(RateWindowTest, DerivedValuesAtEveryEdge) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct {
        std::optional<double> used;
        std::optional<double> remaining;
        const char* text;
    } cases[] = {{99.5, 0.5, "<1%"},
                 {99.0, 1, "1%"},
                 {100, 0, "0%"},
                 {120, 0, "0%"},
                 {0, 100, "100%"},
                 {-5, 100, "100%"},
                 {0.01, 99.99, "99%"},
                 {nan, std::nullopt, "\u2014"},
                 {inf, std::nullopt, "\u2014"},
                 {std::nullopt, std::nullopt, "\u2014"}};
    for (const auto& c : cases) {
        RateWindow window{c.used};
        EXPECT_EQ(window.percentageText(), c.text) << c.used.value_or(-999);
        ASSERT_EQ(window.remainingPercent().has_value(), c.remaining.has_value());
        if (c.remaining) {
            EXPECT_DOUBLE_EQ(*window.remainingPercent(), *c.remaining);
        }
    }
    for (std::optional<double> never :
         {std::optional<double>(0.0), std::optional(-1.0), std::optional(nan), std::optional(inf),
          std::optional<double>(), std::optional(1.9e12), std::optional(1e300)}) {
        EXPECT_FALSE((RateWindow{{}, {}, never}).resetDate());
    }
}

// A balance is exact, and read up to 64 characters as every real one is; a longer text is no
// balance and never travels on to the views.
TEST(CreditsSnapshotTest, BalanceIsExactAndBoundedAndDisplayFollowsIt) {
    const auto value = [](const std::string& balance) {
        const auto read = json{{"hasCredits", true}, {"unlimited", false}, {"balance", balance}}
                              .get<CreditsSnapshot>();
        const auto decimal = read.balanceValue();
        return decimal ? decimal->text() : std::string("absent");
    };
    const std::string longest = std::string(40, '9') + "." + std::string(23, '5');
    ASSERT_EQ(longest.size(), CreditsSnapshot::longestBalance);
    EXPECT_EQ(value(longest), longest);
    EXPECT_EQ(value(" 42 \n"), "42");
    EXPECT_EQ(value("0.00"), "0");
    EXPECT_EQ(value(longest + "5"), "absent");
    EXPECT_EQ(value(std::string(100000, '9')), "absent");
    for (const char* bad :
         {"1e3", "-5", "+5", "1,000", ".5", "5.", "", " ", "1.2.3", "\u0661", "NaN"}) {
        EXPECT_EQ(value(bad), "absent") << bad;
    }
    const std::tuple<bool, bool, std::optional<std::string>, bool> shown[] = {
        {true, false, "0", false},    {true, false, "0.00", false},
        {true, true, "0", true},      {false, false, std::nullopt, true},
        {false, false, "lots", true}, {false, false, "0.01", true}};
    for (const auto& [has, unlimited, balance, display] : shown) {
        EXPECT_EQ((CreditsSnapshot{has, unlimited, balance}).shouldDisplay(), display)
            << balance.value_or("none");
    }
}

}  // namespace
}  // namespace quotalume
