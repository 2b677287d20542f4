#include "test_support.hpp"

#include <quotalume/presentation/quota_text.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace quotalume {
namespace {

// Whole minutes rounded up; a bar's short countdown turns over where the long one does.
TEST(QuotaTextTest, CountdownRoundsUpToWholeMinutes) {
    test::InterfaceLanguage english;
    const Date now = dateFromUnixSeconds(1760000000);
    const std::tuple<const char*, std::optional<double>, std::string, const char*> rows[] = {
        {"half a minute", 30, L10n::text("quota.reset_minutes", "1"), "1m"},
        {"just under an hour", 3540, L10n::text("quota.reset_minutes", "59"), "59m"},
        {"a second past 59 minutes", 3541, L10n::text("quota.reset_hours", "1", "0"), "1h 0m"},
        {"two hours five", 2 * 3600 + 5 * 60, L10n::text("quota.reset_hours", "2", "5"), "2h 5m"},
        {"just under a day", 86340, L10n::text("quota.reset_hours", "23", "59"), "23h 59m"},
        {"a second past 23 h 59 min", 86341, L10n::text("quota.reset_days", "1", "0"), "1d 0h"},
        {"two days five hours", 2 * 86400 + 5 * 3600, L10n::text("quota.reset_days", "2", "5"),
         "2d 5h"},
        {"a fraction of a second", 0.5, L10n::text("quota.awaiting_reset"), "0m"},
        {"due now", 0, L10n::text("quota.awaiting_reset"), "0m"},
        {"ten minutes overdue", -600, L10n::text("quota.awaiting_reset"), "0m"},
        {"no reset time", std::nullopt, L10n::text("quota.reset_unknown"), ""},
    };
    for (const auto& [name, seconds, shown, shortly] : rows) {
        SCOPED_TRACE(name);
        const std::optional<Date> reset =
            seconds ? std::optional(now + std::chrono::duration_cast<Date::duration>(
                                              std::chrono::duration<double>(*seconds)))
                    : std::nullopt;
        EXPECT_EQ(L10n::countdown(reset, now), shown);
        EXPECT_EQ(L10n::shortCountdown(reset, now), shortly);
    }
    test::InterfaceLanguage german(AppLanguage::german);
    EXPECT_EQ(L10n::shortCountdown(now + std::chrono::hours(29), now),
              L10n::text("quota.short_days", "1", "5"));
}

// Under half left is low, under a quarter critical; nothing left is said as such, a sliver left
// is still "almost".
TEST(QuotaTextTest, EachShareLeftHasItsLevelAndWord) {
    test::InterfaceLanguage english;
    using enum RemainingLevel;
    const std::tuple<const char*, std::optional<double>, RemainingLevel, std::optional<std::string>>
        rows[] = {
            {"half left", 50, none, std::nullopt},
            {"under half left", 60, low, "Running low"},
            {"under a quarter left", 75.5, critical, "Almost used up"},
            {"a sliver left", 99.5, critical, "Almost used up"},
            {"nothing left", 100, critical, "Used up"},
            {"more than all used", 150, critical, "Used up"},
            {"less than nothing used", -3, none, std::nullopt},
            {"unknown", std::nullopt, none, std::nullopt},
            {"not a number", std::nan(""), none, std::nullopt},
        };
    for (const auto& [name, used, level, word] : rows) {
        EXPECT_EQ(remainingLevel(RateWindow{used}), level) << name;
        EXPECT_EQ(warningText(RateWindow{used}), word) << name;
    }
}

// Exact, in the locale's digits; past twelve whole digits only a bound, at any length.
TEST(QuotaTextTest, CreditsInTheLocalesDigitsAndImplausibleOnesAsABound) {
    test::InterfaceLanguage english;
    const std::string bound = L10n::text("credits.more_than", "999,999,999,999");
    const std::tuple<const char*, CreditsSnapshot, std::string> rows[] = {
        {"a balance", {true, false, "12.50"}, "12.5"},
        {"every fraction digit",
         {true, false, "1234567.000000000000000000000000000001"},
         "1,234,567.000000000000000000000000000001"},
        {"none", {false, false, std::nullopt}, L10n::text("credits.none")},
        {"not a number", {true, false, "n/a"}, L10n::text("credits.available")},
        {"unlimited", {true, true, "5"}, L10n::text("credits.unlimited")},
        {"twelve digits", {true, false, "999999999999.99"}, "999,999,999,999.99"},
        {"thirteen digits", {true, false, "1000000000000"}, bound},
        {"thirteen digits and a fraction", {true, false, "1000000000000.5"}, bound},
        {"leading zeros not counted", {true, false, "0000000999999999999"}, "999,999,999,999"},
        {"as long as a balance is read", {true, false, std::string(64, '7')}, bound},
    };
    for (const auto& [name, credits, shown] : rows) {
        EXPECT_EQ(credits.displayText(), shown) << name;
    }
    test::chooseLanguage(AppLanguage::german);
    EXPECT_EQ(CreditsSnapshot({true, false, "1234.5"}).displayText(), "1.234,5");
    EXPECT_EQ(CreditsSnapshot({true, false, "1000000000000"}).displayText(),
              L10n::text("credits.more_than", "999.999.999.999"));
    test::chooseLanguage(AppLanguage::french);
    EXPECT_EQ(CreditsSnapshot({true, false, "1234.5"}).displayText(), "1\u202f234,5");
}

TEST(QuotaTextTest, ReadingTimesAndTheForecastInASentence) {
    test::InterfaceLanguage english;
    test::ScopedEnvironment zone("TZ", "UTC");
    ::tzset();
    const Date now = dateFromUnixSeconds(1704207845);  // 2024-01-02 15:04:05 UTC
    EXPECT_EQ(updatedText(now), L10n::text("dashboard.updated", "3:04:05\u202fPM"));
    EXPECT_EQ(lastUpdatedText(now),
              L10n::text("quota.last_updated", "Jan 2, 2024, 3:04:05\u202fPM"));
    const auto runsOut = [&](std::chrono::minutes in, std::chrono::minutes before) {
        return forecastText({now + in, false}, now + in + before, now);
    };
    EXPECT_EQ(runsOut(std::chrono::minutes(30), std::chrono::minutes(50)),
              L10n::text("forecast.runs_out_minutes", "3:34\u202fPM", "50"));
    EXPECT_EQ(runsOut(std::chrono::minutes(30), std::chrono::minutes(70)),
              L10n::text("forecast.runs_out_hours", "3:34\u202fPM", "1", "10"));
    EXPECT_EQ(runsOut(std::chrono::hours(24), std::chrono::hours(51)),
              L10n::text("forecast.runs_out_days", "1/3/24, 3:04\u202fPM", "2", "3"))
        << "a day away, the day is named";
    EXPECT_EQ(forecastText({std::nullopt, true}, now, now), L10n::text("forecast.lasts"));
}

}  // namespace
}  // namespace quotalume
