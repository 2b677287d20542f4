#include <quotalume/date.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace quotalume {
namespace {

constexpr double referenceOffset = 978307200.0;  // 2001-01-01 in Unix seconds

}  // namespace

Date dateFromUnixSeconds(double seconds) {
    seconds = seconds > 0 ? std::min(seconds, latestUnixSeconds) : 0;
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

double unixSeconds(Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count();
}

Date dateFromReferenceSeconds(double seconds) {
    return dateFromUnixSeconds(seconds + referenceOffset);
}

double referenceSeconds(Date date) {
    return unixSeconds(date) - referenceOffset;
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
