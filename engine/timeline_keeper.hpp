#pragma once

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/usage_forecast.hpp>
#include <quotalume/usage/usage_snapshot.hpp>
#include <quotalume/usage/usage_timeline.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quotalume {

// The engine's timeline room: keeps every reading in the usage timeline and derives each
// window's forecast and chart series from it. The timeline is an aid: its failures are said
// (warning()), never allowed to hold up reading, detection or delivery.
class TimelineKeeper {
public:
    using Forecasts = std::map<QuotaWindow, UsageForecast>;

    // The forecasts of `reading`'s windows from `timeline`: the one place they are worked out,
    // for the engine and for a command that reads Codex itself beside the timeline alike.
    static Forecasts forecastsOf(UsageTimeline& timeline, const UsageSnapshot& reading, Date now);

    // Opens the timeline in `dataDirectory`: written only by the engine, read by a view.
    void open(const std::filesystem::path& dataDirectory, bool engine);
    bool isOpen() const { return timeline_ != nullptr; }

    // Keeps `reading` (the engine only) and works out its account's forecasts afresh.
    void keep(const UsageSnapshot& reading, Date now, bool engine);

    // The forecasts of the account's last reading kept.
    const Forecasts& forecasts(const std::string& fingerprint) const;
    // The readings of the window's current occurrence, oldest first; read once a reading.
    const std::vector<UsagePoint>& series(const UsageSnapshot* reading, QuotaWindow window);
    const std::optional<LocalizedMessage>& warning() const;

private:
    std::unique_ptr<UsageTimeline> timeline_;
    std::map<std::string, Forecasts> forecasts_;  // by account
    std::map<std::pair<std::string, QuotaWindow>, std::vector<UsagePoint>> series_;
};

}  // namespace quotalume
