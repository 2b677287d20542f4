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

Date dateFromUnixSeconds(double seconds);
double unixSeconds(Date date);
Date dateFromReferenceSeconds(double seconds);
double referenceSeconds(Date date);

// "2026-12-06T10:00:00Z"; fractions of a second are dropped.
std::string iso8601(Date date);
std::optional<Date> parseISO8601(std::string_view text);

}  // namespace quotalume
