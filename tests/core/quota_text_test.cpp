#include "test_support.hpp"

#include <quotalume/presentation/quota_text.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace quotalume {
namespace {

TEST(QuotaTextTest, CountdownRoundsUpToWholeMinutes) {
    test::InterfaceLanguage english;
    const Date now = dateFromUnixSeconds(1760000000);
    auto in = [&](double seconds) {
        return L10n::countdown(now + std::chrono::duration_cast<Date::duration>(
                                         std::chrono::duration<double>(seconds)),
                               now);
    };
    const std::pair<double, std::string> cases[] = {
        {30, L10n::text("quota.reset_minutes", "1")},
        {3540, L10n::text("quota.reset_minutes", "59")},
        {3541, L10n::text("quota.reset_hours", "1", "0")},
        {86340, L10n::text("quota.reset_hours", "23", "59")},
        {86341, L10n::text("quota.reset_days", "1", "0")},
        {2 * 86400 + 5 * 3600, L10n::text("quota.reset_days", "2", "5")},
        {0.5, L10n::text("quota.awaiting_reset")},
        {0, L10n::text("quota.awaiting_reset")},
        {-600, L10n::text("quota.awaiting_reset")},
    };
    for (const auto& [seconds, expected] : cases) {
        EXPECT_EQ(in(seconds), expected) << seconds;
    }
    EXPECT_EQ(L10n::countdown(std::nullopt, now), L10n::text("quota.reset_unknown"));
}

// A bar's countdown turns over where the long one does; due, it reads as no time left.
TEST(QuotaTextTest, ShortCountdownRoundsAsTheLongOne) {
    test::InterfaceLanguage english;
    const Date now = dateFromUnixSeconds(1760000000);
    const struct {
        const char* name;
        std::optional<double> seconds;
        const char* shown;
    } rows[] = {
        {"half a minute", 30, "1m"},
        {"just under an hour", 3540, "59m"},
        {"a second past 59 minutes", 3541, "1h 0m"},
        {"two hours five", 2 * 3600 + 5 * 60, "2h 5m"},
        {"just under a day", 86340, "23h 59m"},
        {"a second past 23 h 59 min", 86341, "1d 0h"},
        {"two days five hours", 2 * 86400 + 5 * 3600, "2d 5h"},
        {"a fraction of a second", 0.5, "0m"},
        {"due now", 0, "0m"},
        {"ten minutes overdue", -600, "0m"},
        {"no reset time", std::nullopt, ""},
    };
    for (const auto& row : rows) {
        const std::optional<Date> reset =
            row.seconds ? std::optional(now + std::chrono::duration_cast<Date::duration>(
                                                  std::chrono::duration<double>(*row.seconds)))
                        : std::nullopt;
        EXPECT_EQ(L10n::shortCountdown(reset, now), row.shown) << row.name;
    }
    test::InterfaceLanguage german(AppLanguage::german);
    EXPECT_EQ(L10n::shortCountdown(now + std::chrono::hours(29), now),
              L10n::text("quota.short_days", "1", "5"));
}

TEST(QuotaTextTest, LevelsOfTheRemainingShare) {
    const std::pair<std::optional<double>, RemainingLevel> cases[] = {
        {60, RemainingLevel::low},
        {75.5, RemainingLevel::critical},
        {150, RemainingLevel::critical},
        {50, RemainingLevel::none},
        {-3, RemainingLevel::none},
        {std::nullopt, RemainingLevel::none},
        {std::nan(""), RemainingLevel::none},
    };
    for (const auto& [used, level] : cases) {
        EXPECT_EQ(remainingLevel(RateWindow{used}), level) << used.value_or(-1);
    }
}

// Nothing left is said as such; a sliver left is still "almost".
TEST(QuotaTextTest, TheWarningWordOfEachShareLeft) {
    test::InterfaceLanguage english;
    const struct {
        const char* name;
        std::optional<double> used;
        std::optional<std::string> word;
    } rows[] = {
        {"half left", 50, std::nullopt},         {"running low", 60, "Running low"},
        {"a fifth left", 80, "Almost used up"},  {"a sliver left", 99.5, "Almost used up"},
        {"nothing left", 100, "Used up"},        {"more than all used", 130, "Used up"},
        {"unknown", std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(warningText(RateWindow{row.used}), row.word) << row.name;
    }
}

TEST(QuotaTextTest, CreditsInTheLocalesDigits) {
    test::InterfaceLanguage english;
    auto shown = [](bool hasCredits, bool unlimited, std::optional<std::string> balance) {
        return CreditsSnapshot{hasCredits, unlimited, std::move(balance)}.displayText();
    };
    EXPECT_EQ(shown(true, false, "12.50"), "12.5");
    EXPECT_EQ(shown(true, false, "1234567.000000000000000000000000000001"),
              "1,234,567.000000000000000000000000000001");
    EXPECT_EQ(shown(false, false, std::nullopt), L10n::text("credits.none"));
    EXPECT_EQ(shown(true, false, "n/a"), L10n::text("credits.available"));
    EXPECT_EQ(shown(true, true, "5"), L10n::text("credits.unlimited"));
    test::chooseLanguage(AppLanguage::german);
    EXPECT_EQ(shown(true, false, "1234.5"), "1.234,5");
    test::chooseLanguage(AppLanguage::french);
    EXPECT_EQ(shown(true, false, "1234.5"), "1\u202f234,5");
}

// Past twelve whole digits only a bound is shown, in the locale's digits, at any length.
TEST(QuotaTextTest, AnImplausiblyLargeBalanceIsShownAsABound) {
    test::InterfaceLanguage english;
    const std::string bound = L10n::text("credits.more_than", "999,999,999,999");
    const struct {
        const char* name;
        std::string balance;
        std::string shown;
    } rows[] = {
        {"twelve digits", "999999999999.99", "999,999,999,999.99"},
        {"thirteen digits", "1000000000000", bound},
        {"thirteen digits and a fraction", "1000000000000.5", bound},
        {"leading zeros not counted", "0000000999999999999", "999,999,999,999"},
        {"as long as a balance is read", std::string(64, '7'), bound},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CreditsSnapshot({true, false, row.balance}).displayText(), row.shown) << row.name;
    }
    test::chooseLanguage(AppLanguage::german);
    EXPECT_EQ(CreditsSnapshot({true, false, "1000000000000"}).displayText(),
              L10n::text("credits.more_than", "999.999.999.999"));
}

TEST(QuotaTextTest, ReadingTimes) {
    test::InterfaceLanguage english;
    test::ScopedEnvironment zone("TZ", "UTC");
    ::tzset();
    const Date observedAt = dateFromUnixSeconds(1704207845);  // 2024-01-02 15:04:05 UTC
    EXPECT_EQ(updatedText(observedAt), L10n::text("dashboard.updated", "3:04:05\u202fPM"));
    EXPECT_EQ(lastUpdatedText(observedAt),
              L10n::text("quota.last_updated", "Jan 2, 2024, 3:04:05\u202fPM"));
}

TEST(QuotaTextTest, TheForecastInASentence) {
    test::InterfaceLanguage english;
    test::ScopedEnvironment zone("TZ", "UTC");
    ::tzset();
    const Date now = dateFromUnixSeconds(1704207845);  // 2024-01-02 15:04:05 UTC
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
