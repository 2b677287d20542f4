#include <quotalume/support/date.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace quotalume {
namespace {

constexpr std::int64_t referenceOffset = 978307200;  // 2001-01-01 in Unix seconds
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;

// Whole seconds and the fraction are converted apart. As one double of nanoseconds a date of
// our time is only good to 256 ns, so a stored 794063700.75 would come back as
// 794063700.7500002; this way every stored number reads back as written.
Date dateFromSeconds(double seconds, std::int64_t offset) {
    const double unix = seconds + static_cast<double>(offset);
    if (!(unix > 0)) {
        return Date{};
    }
    if (unix >= latestUnixSeconds) {
        return Date(std::chrono::duration_cast<Date::duration>(
            std::chrono::seconds(static_cast<std::int64_t>(latestUnixSeconds))));
    }
    const double whole = std::floor(seconds);
    const std::int64_t nanoseconds =
        (static_cast<std::int64_t>(whole) + offset) * nanosecondsPerSecond +
        std::llround((seconds - whole) * 1e9);
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::nanoseconds(nanoseconds)));
}

double secondsSince(Date date, std::int64_t offset) {
    const std::int64_t nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
    std::int64_t whole = nanoseconds / nanosecondsPerSecond;
    std::int64_t fraction = nanoseconds % nanosecondsPerSecond;
    if (fraction < 0) {
        whole -= 1;
        fraction += nanosecondsPerSecond;
    }
    return static_cast<double>(whole - offset) + static_cast<double>(fraction) / 1e9;
}

}  // namespace

Date dateFromUnixSeconds(double seconds) {
    return dateFromSeconds(seconds, 0);
}

double unixSeconds(Date date) {
    return secondsSince(date, 0);
}

Date dateFromReferenceSeconds(double seconds) {
    return dateFromSeconds(seconds, referenceOffset);
}

double referenceSeconds(Date date) {
    return secondsSince(date, referenceOffset);
}

std::string iso8601(Date date) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::optional<Date> parseISO8601(std::string_view text) {
    std::tm utc{};
    char zone = 0;
    int consumed = 0;
    std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &zone, &consumed) != 7 ||
        zone != 'Z' || static_cast<std::size_t>(consumed) != copy.size()) {
        return std::nullopt;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return std::chrono::system_clock::from_time_t(::timegm(&utc));
}

}  // namespace quotalume
