#include "metrics_exposition.hpp"

#include "engine_reading.hpp"

#include <quotalume/support/date.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <map>
#include <set>
#include <utility>

namespace quotalume {
namespace {

struct Family {
    std::string_view name;
    std::string_view type;
    std::string_view help;
};

// In the order they are written; each source adds its series to each.
enum class Metric : std::size_t {
    usedRatio,
    resetsAt,
    runsOutAt,
    blocked,
    lastReading,
    stale,
    credits,
    readings,
    resets,
    warnings,
    deliveries,
};
constexpr std::size_t metricCount = static_cast<std::size_t>(Metric::deliveries) + 1;

constexpr std::array<Family, metricCount> families = {{
    {"quotalume_window_used_ratio", "gauge", "Share of the window used, from 0 to 1."},
    {"quotalume_window_resets_at_timestamp_seconds", "gauge",
     "When the window resets, in Unix seconds."},
    {"quotalume_window_runs_out_at_timestamp_seconds", "gauge",
     "When the window runs out at the current pace, in Unix seconds; only while there is a "
     "forecast."},
    {"quotalume_blocked", "gauge",
     "1 while the bucket takes no ordinary usage, with the reason; else 0 with reason \"none\"."},
    {"quotalume_last_reading_timestamp_seconds", "gauge",
     "When the account was last read successfully, in Unix seconds."},
    {"quotalume_stale", "gauge", "1 while the figures are older than the schedule allows, else 0."},
    {"quotalume_credits_balance", "gauge",
     "Credits left on the account, where Codex reports them."},
    {"quotalume_readings_total", "counter", "Readings of the account, by outcome."},
    {"quotalume_resets_total", "counter", "Window resets detected."},
    {"quotalume_warnings_total", "counter", "Early warnings given, by reason."},
    {"quotalume_deliveries_total", "counter", "Announcements handed to a channel, by outcome."},
}};

using Label = std::pair<std::string_view, std::string_view>;

std::string sampleValue(double value) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "NaN" : value > 0 ? "+Inf" : "-Inf";
    }
    std::array<char, 400> text{};  // the longest fixed double
    // Fixed, never "1.8e+09": a timestamp reads as one.
    const auto end =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed).ptr;
    return {text.data(), end};
}

class Exposition {
public:
    void add(Metric metric, std::initializer_list<Label> labels, std::string_view value) {
        const auto index = static_cast<std::size_t>(metric);
        std::string& out = series_[index];
        out += families[index].name;
        char separator = '{';
        for (const auto& [name, text] : labels) {
            out += separator;
            out += name;
            out += "=\"";
            out += escapedLabelValue(text);
            out += '"';
            separator = ',';
        }
        out += "} ";
        out += value;
        out += '\n';
    }
    void add(Metric metric, std::initializer_list<Label> labels, double value) {
        add(metric, labels, sampleValue(value));
    }

    std::string text() const {
        std::string out;
        for (std::size_t i = 0; i < metricCount; ++i) {
            if (series_[i].empty()) {
                continue;  // a family without series says nothing
            }
            out += "# HELP ";
            out += families[i].name;
            out += ' ';
            out += families[i].help;
            out += "\n# TYPE ";
            out += families[i].name;
            out += ' ';
            out += families[i].type;
            out += '\n';
            out += series_[i];
        }
        return out;
    }

private:
    std::array<std::string, metricCount> series_;
};

using Shown = std::set<std::pair<std::string, std::string>>;  // (bucket, window id)

// The reading's figures; the windows shown go to `shown`.
void addFigures(Exposition& out, const EngineReading& source, std::string_view account,
                Shown& shown) {
    const std::optional<UsageSnapshot>& snapshot = source.snapshot;
    if (snapshot) {
        for (const RateBucket& bucket : snapshot->buckets) {
            const std::string id = bucket.id();
            for (QuotaWindow which : bucket.windows()) {
                const RateWindow window = *bucket.window(which);
                const std::string name = optionId(which);
                shown.emplace(id, name);
                const auto sample = [&](Metric metric, double value) {
                    out.add(metric, {{"account", account}, {"bucket", id}, {"window", name}},
                            value);
                };
                if (const auto used = window.validUsedPercent()) {
                    sample(Metric::usedRatio, *used / 100);
                }
                if (const auto reset = window.resetDate()) {
                    sample(Metric::resetsAt, std::floor(unixSeconds(*reset)));
                }
                const auto forecast = source.forecasts.find(which);
                if (id == "codex" && forecast != source.forecasts.end() &&
                    forecast->second.runsOutAt) {
                    sample(Metric::runsOutAt, std::floor(unixSeconds(*forecast->second.runsOutAt)));
                }
            }
            const std::optional<BlockedState> state = source.bucketBlocked(bucket);
            const std::string reason = state ? state->reason : "none";
            out.add(Metric::blocked, {{"account", account}, {"bucket", id}, {"reason", reason}},
                    state ? "1" : "0");
        }
        out.add(Metric::lastReading, {{"account", account}},
                std::round(unixSeconds(snapshot->observedAt) * 1000) / 1000);
        out.add(Metric::stale, {{"account", account}}, source.stale ? "1" : "0");
        if (const auto balance = source.credits(); balance && balance->hasCredits) {
            if (const auto value = balance->balanceValue()) {
                out.add(Metric::credits, {{"account", account}}, value->text());
            }
        }
    }
}

// What the engine counted; every window shown starts at 0, so its first reset is an increase.
void addCounts(Exposition& out, const MetricCounters& counts, std::string_view account,
               const Shown& shown) {
    out.add(Metric::readings, {{"account", account}, {"outcome", "failed"}},
            std::to_string(counts.readings.failed));
    out.add(Metric::readings, {{"account", account}, {"outcome", "ok"}},
            std::to_string(counts.readings.good));
    auto all = counts.resets;
    for (const auto& key : shown) {
        all.emplace(key, 0);
    }
    for (const auto& [key, count] : all) {
        out.add(Metric::resets,
                {{"account", account}, {"bucket", key.first}, {"window", key.second}},
                std::to_string(count));
    }
    for (const auto& [reason, count] : counts.warnings) {
        out.add(Metric::warnings, {{"account", account}, {"reason", reason}},
                std::to_string(count));
    }
    for (const auto& [channel, outcomes] :
         {std::pair{"notification", counts.notifications}, {"webhook", counts.webhooks}}) {
        out.add(Metric::deliveries,
                {{"account", account}, {"channel", channel}, {"outcome", "delivered"}},
                std::to_string(outcomes.good));
        out.add(Metric::deliveries,
                {{"account", account}, {"channel", channel}, {"outcome", "failed"}},
                std::to_string(outcomes.failed));
    }
}

}  // namespace

std::string escapedLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string metricsExposition(const EngineReading& reading, std::string_view firstLabel) {
    Exposition out;
    for (const EngineReading* source : reading.sources()) {
        if (source->sameAs) {
            continue;
        }
        const std::string_view account = source->labelOr(firstLabel);
        Shown shown;
        addFigures(out, *source, account, shown);
        if (source->counters) {
            addCounts(out, *source->counters, account, shown);
        }
    }
    return out.text();
}

}  // namespace quotalume
