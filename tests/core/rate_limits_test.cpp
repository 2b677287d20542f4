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

TEST(RateLimitsBucketsTest, KeepsOnlyTheCodexBucket) {
    auto ids = [](const char* text) {
        std::vector<std::optional<std::string>> out;
        for (const auto& bucket : decode(text).buckets()) {
            out.push_back(bucket.limitId);
        }
        return out;
    };
    using Ids = std::vector<std::optional<std::string>>;
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{"codex":{"limitId":"other"},"x":{}}})"), Ids{"codex"});
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{"x":{}},"rateLimits":{}})"), Ids{});
    EXPECT_EQ(ids(R"({"rateLimitsByLimitId":{},"rateLimits":{}})"), Ids{std::nullopt});
    EXPECT_EQ(ids(R"({"rateLimits":{"limitId":"codex"}})"), Ids{"codex"});
    EXPECT_EQ(ids(R"({"rateLimits":{"limitId":"codex_other"}})"), Ids{});
    EXPECT_EQ(ids("{}"), Ids{});
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

TEST(CreditsSnapshotTest, BalanceIsExactAndDisplayFollowsIt) {
    auto value = [](const char* balance) {
        auto decimal = CreditsSnapshot{true, false, balance}.balanceValue();
        return decimal ? decimal->text() : std::string("absent");
    };
    EXPECT_EQ(value(" 42 \n"), "42");
    EXPECT_EQ(value("0.00"), "0");
    EXPECT_EQ(value("123456789012345678901234567890.000000000000000000001"),
              "123456789012345678901234567890.000000000000000000001");
    for (const char* bad :
         {"1e3", "-5", "+5", "1,000", ".5", "5.", "", " ", "1.2.3", "\u0661", "NaN"}) {
        EXPECT_EQ(value(bad), "absent") << bad;
    }
    EXPECT_FALSE((CreditsSnapshot{true, false, "0"}).shouldDisplay());
    EXPECT_FALSE((CreditsSnapshot{true, false, "0.00"}).shouldDisplay());
    EXPECT_TRUE((CreditsSnapshot{true, true, "0"}).shouldDisplay());
    EXPECT_TRUE((CreditsSnapshot{false, false, std::nullopt}).shouldDisplay());
    EXPECT_TRUE((CreditsSnapshot{false, false, "lots"}).shouldDisplay());
    EXPECT_TRUE((CreditsSnapshot{false, false, "0.01"}).shouldDisplay());
}

// A balance is read up to 64 characters, as every real one is; a longer text is no balance
// and never travels on to the views.
TEST(CreditsSnapshotTest, ABalanceTooLongToBeOneReadsAsUnknown) {
    const auto balance = [](const std::string& text) {
        return json{{"hasCredits", true}, {"unlimited", false}, {"balance", text}}
            .get<CreditsSnapshot>()
            .balance;
    };
    const std::string longest = std::string(40, '9') + "." + std::string(23, '5');
    ASSERT_EQ(longest.size(), CreditsSnapshot::longestBalance);
    EXPECT_EQ(balance(longest), longest);
    EXPECT_EQ(balance(longest + "5"), std::nullopt);
    EXPECT_EQ(balance(std::string(100000, '9')), std::nullopt);
}

}  // namespace
}  // namespace quotalume
