#include <quotalume/usage/usage_forecast.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace quotalume {
namespace {

using std::chrono::minutes;

const Date now = dateFromUnixSeconds(1796000000);
const Date reset = now + minutes(300);

// A reading a minute from `first` to `last` minutes from now, the share used given by `used`.
std::vector<UsagePoint> series(int first, int last, const std::function<double(int)>& used,
                               Date resetsAt = reset) {
    std::vector<UsagePoint> points;
    for (int minute = first; minute <= last; ++minute) {
        points.push_back({now + minutes(minute), used(minute), resetsAt});
    }
    return points;
}

std::vector<UsagePoint> joined(std::vector<UsagePoint> a, const std::vector<UsagePoint>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(UsageForecastTest, FromTheLastHourOfTheCurrentWindow) {
    const auto steady = [](int minute) { return 40 + 0.5 * minute; };  // 40 % now, 0.5 a minute
    const UsageForecast runsOut{now + minutes(120), false};
    const UsageForecast lasts{std::nullopt, true};
    const struct {
        const char* name;
        std::vector<UsagePoint> points;
        std::optional<UsageForecast> expected;
    } rows[] = {
        {"a steady burn runs out", series(-60, 0, steady), runsOut},
        {"older readings are not used",
         joined(series(-180, -61, [](int) { return 5.0; }), series(-60, 0, steady)), runsOut},
        {"a slow burn lasts", series(-60, 0, [](int m) { return 40 + 0.1 * m; }), lasts},
        {"a flat one lasts", series(-60, 0, [](int) { return 40.0; }), lasts},
        {"readings of the window before its reset are not used",
         joined(series(
                    -60, -31, [](int) { return 99.0; }, now - minutes(30)),
                series(-30, 0, steady)),
         runsOut},
        {"nor are readings dated after now, by a clock set back",
         joined(series(-60, 0, steady), series(1, 30, [](int) { return 0.0; })), runsOut},
        {"a reset time that wanders by seconds is the same window",
         series(-60, 0, steady, reset + std::chrono::seconds(40)), runsOut},
        {"a window used up ran out at its first reading at 100 %",
         series(-30, 0, [](int m) { return std::min(100.0, 110.0 + m); }),
         UsageForecast{now - minutes(10), false}},
        {"two readings are too few, however far apart",
         {{now - minutes(20), steady(-20), reset}, {now - minutes(5), steady(-5), reset}},
         std::nullopt},
        {"readings less than ten minutes apart are too few", series(-9, 0, steady), std::nullopt},
        {"three readings ten minutes apart are just enough",
         {{now - minutes(10), steady(-10), reset},
          {now - minutes(5), steady(-5), reset},
          {now, steady(0), reset}},
         runsOut},
        {"three readings a second short of ten minutes are not",
         {{now - minutes(10) + std::chrono::seconds(1), steady(-10), reset},
          {now - minutes(5), steady(-5), reset},
          {now, steady(0), reset}},
         std::nullopt},
        {"no readings", {}, std::nullopt},
    };
    for (const auto& row : rows) {
        // To the second: the fitted slope is exact only to rounding.
        std::optional<UsageForecast> forecast = UsageForecast::of(row.points, reset, now);
        if (forecast && forecast->runsOutAt) {
            forecast->runsOutAt = std::chrono::round<std::chrono::seconds>(*forecast->runsOutAt);
        }
        EXPECT_EQ(forecast, row.expected) << row.name;
    }
}

TEST(UsageForecastTest, BurstsWithIdleGapsRunOutLaterThanTheirBurstsAlone) {
    // Two points a minute for ten minutes, idle for forty, then again: 70 % now.
    const auto bursty = [](int m) {
        return m <= -50 ? 30.0 + 2 * (m + 60) : m < -10 ? 50.0 : 50.0 + 2 * (m + 10);
    };
    const auto forecast = UsageForecast::of(series(-60, 0, bursty), reset, now);
    ASSERT_TRUE(forecast && forecast->runsOutAt);
    EXPECT_GT(*forecast->runsOutAt, now + minutes(15)) << "at the bursts' own rate";
    EXPECT_LT(*forecast->runsOutAt, reset);
}

TEST(UsageForecastTest, PaceIsTheShareUsedAgainstTheShareGoneBy) {
    EXPECT_EQ(UsageForecast::pacePoints(40, now + minutes(150), 300, now), -10);
    EXPECT_EQ(UsageForecast::pacePoints(40, now + minutes(30), 300, now), -50);
    EXPECT_EQ(UsageForecast::pacePoints(40, now + minutes(400), 300, now), 40) << "not begun";
    EXPECT_EQ(UsageForecast::pacePoints(40, now - minutes(5), 300, now), -60) << "past its reset";
    EXPECT_EQ(UsageForecast::pacePoints(40, now, 0, now), std::nullopt);
}

}  // namespace
}  // namespace quotalume
