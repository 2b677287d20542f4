#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/rate_limits.hpp>
#include <quotalume/usage/usage_forecast.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// How close a window is to its limit: critical under 25 % left, low under 50 %; none when the
// used share is unknown or negative.
enum class RemainingLevel { none, low, critical };
RemainingLevel remainingLevel(const RateWindow& window);
// The warning word of a window's level ("quota.low", "quota.critical"), absent for none; nothing
// left at all is "quota.used_up", not "almost".
std::optional<std::string> warningText(const RateWindow& window);

// A figure said to be the share left: "40% left", "残り40%".
std::string shareLeft(const std::string& figure);

// When the shown values were read: "Updated 10:42:07", and the full date and time.
std::string updatedText(Date observedAt);
std::string lastUpdatedText(Date observedAt);

// "At this pace, runs out at 14:32, 1 h 10 min before it resets.", or that it lasts until the
// reset at `resetsAt`; the day is named too when it runs out 12 hours or more after `now`.
std::string forecastText(const UsageForecast& forecast, Date resetsAt, Date now);

// How a line gives a window's share: the figure alone ("23%"), or said to be what is left
// ("23% left") where nothing around it says so.
enum class ShareWording { figure, left };
// A line for each window of the bucket with a figure ("5-hour limit: 23% · Resets in 2 h"),
// then its credits when it shows them.
std::vector<std::string> windowLines(const RateBucket& bucket, Date now,
                                     ShareWording wording = ShareWording::figure);

}  // namespace quotalume
