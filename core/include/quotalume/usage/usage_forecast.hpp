#pragma once

#include <quotalume/support/date.hpp>

#include <cstdint>
#include <optional>
#include <span>

namespace quotalume {

// One stored reading of one window: when it was read, the share used, and when the window
// resets.
struct UsagePoint {
    Date at;
    double usedPercent = 0;
    Date resetsAt;

    friend bool operator==(const UsagePoint&, const UsagePoint&) = default;
};

// Whether a window lasts until its reset at the rate it is being used. No I/O: the timeline
// gives it the readings.
//
// Pace: the share used minus the share of the window's time gone by, in points; ahead of an
// even pace when above zero.
//
// Forecast: the least-squares slope of the share used against wall-clock time over the
// readings of the last 60 minutes of the current window (fewer when it began more recently).
// At that rate the window reaches 100 % at some moment: when that is before the reset, it runs
// out then; otherwise, and for a flat or falling slope, it lasts until the reset. Readings of
// an earlier occurrence of the window (another reset time) and readings dated after `now` (a
// clock set back) are not used. No forecast from fewer than three readings or from readings
// less than ten minutes apart. A window already used up ran out at its first reading at 100 %.
struct UsageForecast {
    std::optional<Date> runsOutAt;  // nothing when it lasts until the reset
    bool lastsUntilReset = false;

    static constexpr auto span = std::chrono::minutes(60);
    static constexpr auto shortestSpan = std::chrono::minutes(10);
    static constexpr std::size_t fewestReadings = 3;
    // Reset times that differ by no more than this are one occurrence of the window: Codex's
    // reset times wander by a few seconds between readings.
    static constexpr auto sameReset = std::chrono::seconds(60);

    // The slope the forecast reads, in points a second: nothing from too few readings.
    static std::optional<double> rate(std::span<const UsagePoint> points, Date resetsAt, Date now);
    // From `points` of one window, in any order; `resetsAt` is its current reset.
    static std::optional<UsageForecast> of(std::span<const UsagePoint> points, Date resetsAt,
                                           Date now);
    // Used minus elapsed share, in points; nothing for a window length that is not positive.
    static std::optional<double> pacePoints(double usedPercent, Date resetsAt, std::int64_t minutes,
                                            Date now);

    friend bool operator==(const UsageForecast&, const UsageForecast&) = default;
};

}  // namespace quotalume
