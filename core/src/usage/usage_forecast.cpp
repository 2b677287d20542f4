#include <quotalume/usage/usage_forecast.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace quotalume {
namespace {

using std::chrono::duration;
using Seconds = duration<double>;

bool sameOccurrence(Date reset, Date current) {
    const auto apart = reset > current ? reset - current : current - reset;
    return apart <= UsageForecast::sameReset;
}

}  // namespace

std::optional<double> UsageForecast::pacePoints(double usedPercent, Date resetsAt,
                                                std::int64_t minutes, Date now) {
    if (minutes <= 0 || !std::isfinite(usedPercent)) {
        return std::nullopt;
    }
    const double length = 60.0 * static_cast<double>(minutes);
    const double left = std::clamp(Seconds(resetsAt - now).count(), 0.0, length);
    const double elapsed = 100.0 * (length - left) / length;
    return std::clamp(usedPercent, 0.0, 100.0) - elapsed;
}

namespace {

// The readings of the current occurrence up to now, oldest first.
std::vector<UsagePoint> occurrence(std::span<const UsagePoint> points, Date resetsAt, Date now) {
    std::vector<UsagePoint> current;
    for (const UsagePoint& point : points) {
        if (point.at <= now && sameOccurrence(point.resetsAt, resetsAt) &&
            std::isfinite(point.usedPercent)) {
            current.push_back(point);
        }
    }
    std::sort(current.begin(), current.end(),
              [](const UsagePoint& a, const UsagePoint& b) { return a.at < b.at; });
    return current;
}

// The least-squares slope over the last hour of `current`, oldest first.
std::optional<double> slopeOf(std::vector<UsagePoint> current, Date now) {
    const Date from = now - UsageForecast::span;
    std::erase_if(current, [&](const UsagePoint& point) { return point.at < from; });
    if (current.size() < UsageForecast::fewestReadings ||
        current.back().at - current.front().at < UsageForecast::shortestSpan) {
        return std::nullopt;
    }
    // Seconds from the first reading, which keeps the sums small and exact enough.
    const Date origin = current.front().at;
    double meanT = 0;
    double meanU = 0;
    for (const UsagePoint& point : current) {
        meanT += Seconds(point.at - origin).count();
        meanU += point.usedPercent;
    }
    meanT /= static_cast<double>(current.size());
    meanU /= static_cast<double>(current.size());
    double covariance = 0;
    double variance = 0;
    for (const UsagePoint& point : current) {
        const double t = Seconds(point.at - origin).count() - meanT;
        covariance += t * (point.usedPercent - meanU);
        variance += t * t;
    }
    return covariance / variance;  // variance > 0: the readings are ten minutes apart
}

}  // namespace

std::optional<double> UsageForecast::rate(std::span<const UsagePoint> points, Date resetsAt,
                                          Date now) {
    return slopeOf(occurrence(points, resetsAt, now), now);
}

std::optional<UsageForecast> UsageForecast::of(std::span<const UsagePoint> points, Date resetsAt,
                                               Date now) {
    const std::vector<UsagePoint> current = occurrence(points, resetsAt, now);
    const auto usedUp = std::find_if(current.begin(), current.end(), [](const UsagePoint& point) {
        return point.usedPercent >= 100;
    });
    if (usedUp != current.end()) {
        return UsageForecast{usedUp->at, false};
    }
    const std::optional<double> slope = slopeOf(current, now);
    if (!slope) {
        return std::nullopt;
    }
    if (!(*slope > 0)) {
        return UsageForecast{std::nullopt, true};
    }
    const UsagePoint& last = current.back();
    const double seconds = (100.0 - last.usedPercent) / *slope;
    if (seconds >= Seconds(resetsAt - last.at).count()) {
        return UsageForecast{std::nullopt, true};
    }
    return UsageForecast{last.at + std::chrono::duration_cast<Date::duration>(Seconds(seconds)),
                         false};
}

}  // namespace quotalume
