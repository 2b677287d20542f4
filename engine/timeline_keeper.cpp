#include "timeline_keeper.hpp"

#include <quotalume/usage/rate_limits.hpp>

#include <chrono>

namespace quotalume {

TimelineKeeper::Forecasts TimelineKeeper::forecastsOf(UsageTimeline& timeline,
                                                      const UsageSnapshot& reading, Date now) {
    Forecasts forecasts;
    const std::optional<RateBucket> bucket = reading.codexBucket();
    for (QuotaWindow which : bucket ? bucket->windows() : std::vector<QuotaWindow>()) {
        const std::optional<RateWindow> window = bucket->window(which);
        const std::optional<Date> reset = window->resetDate();
        if (!reset) {
            continue;
        }
        // The last hour is all a forecast reads, unless the window is used up: then when it
        // first was.
        const bool usedUp = window->validUsedPercent().value_or(0) >= 100;
        const Date since =
            usedUp ? *reset - std::chrono::minutes(minutes(which)) : now - UsageForecast::span;
        const auto points = timeline.points(reading.accountFingerprint, which, since);
        if (auto forecast = UsageForecast::of(points, *reset, now)) {
            forecasts[which] = *forecast;
        }
    }
    timeline.release();
    return forecasts;
}

void TimelineKeeper::open(const std::filesystem::path& dataDirectory, bool engine) {
    // Waited for only briefly: a user's sqlite3 session must not hold up the engine.
    timeline_ = std::make_unique<UsageTimeline>(
        dataDirectory, UsageTimeline::Options{.busyMilliseconds = 20, .readOnly = !engine});
}

void TimelineKeeper::keep(const UsageSnapshot& reading, Date now, bool engine) {
    const std::string& account = reading.accountFingerprint;
    forecasts_.erase(account);
    std::erase_if(series_, [&](const auto& entry) { return entry.first.first == account; });
    if (!timeline_) {
        return;
    }
    if (engine) {
        timeline_->record(reading, now);
    }
    forecasts_[account] = forecastsOf(*timeline_, reading, now);
}

const TimelineKeeper::Forecasts& TimelineKeeper::forecasts(const std::string& fingerprint) const {
    static const Forecasts none;
    const auto found = forecasts_.find(fingerprint);
    return found == forecasts_.end() ? none : found->second;
}

const std::vector<UsagePoint>& TimelineKeeper::series(const UsageSnapshot* reading,
                                                      QuotaWindow which) {
    const std::pair key(reading ? reading->accountFingerprint : std::string(), which);
    auto found = series_.find(key);
    if (found != series_.end()) {
        return found->second;
    }
    std::vector<UsagePoint> points;
    const std::optional<RateBucket> bucket = reading ? reading->codexBucket() : std::nullopt;
    const std::optional<RateWindow> window = bucket ? bucket->window(which) : std::nullopt;
    if (const std::optional<Date> reset = window ? window->resetDate() : std::nullopt;
        reset && timeline_) {
        for (UsagePoint& point : timeline_->points(reading->accountFingerprint, which,
                                                   *reset - std::chrono::minutes(minutes(which)))) {
            if (point.resetsAt - *reset <= UsageForecast::sameReset &&
                *reset - point.resetsAt <= UsageForecast::sameReset) {
                points.push_back(point);
            }
        }
    }
    if (timeline_) {
        timeline_->release();
    }
    return series_.emplace(key, std::move(points)).first->second;
}

const std::optional<LocalizedMessage>& TimelineKeeper::warning() const {
    static const std::optional<LocalizedMessage> none;
    return timeline_ ? timeline_->warning() : none;
}

}  // namespace quotalume
