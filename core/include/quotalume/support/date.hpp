#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

using Date = std::chrono::system_clock::time_point;

// How a record writes its times: seconds since 2001-01-01 00:00:00 UTC as a JSON number (the
// state file), or ISO 8601 text in UTC with whole seconds (what scripts and receivers read).
enum class DateCoding { referenceSeconds, iso8601 };

// Dates are kept in nanoseconds, which reach only to the year 2262. Times read from outside are
// therefore held to 1970…2200, where any two can still be subtracted; beyond that (a reset time
// in milliseconds, say) a value is no date at all.
inline constexpr double latestUnixSeconds = 7258118400.0;  // 2200-01-01T00:00:00Z
// Clamped into 0…latestUnixSeconds; not-a-number gives 0.
Date dateFromUnixSeconds(double seconds);
double unixSeconds(Date date);
Date dateFromReferenceSeconds(double seconds);
double referenceSeconds(Date date);

// "2026-12-06T10:00:00Z"; fractions of a second are dropped.
std::string iso8601(Date date);
std::optional<Date> parseISO8601(std::string_view text);

}  // namespace quotalume
