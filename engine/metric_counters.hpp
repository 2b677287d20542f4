#pragma once

#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/usage/quota_window.hpp>

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace quotalume {

// What the engine counted of one account: readings, resets, warnings and deliveries. Counted as
// they happen, never worked out from the history, so trimming it takes nothing away, and kept
// with the account's state, so a restart goes on from the last value.
struct MetricCounters {
    // More buckets' windows than anyone has: a file with more is not ours.
    static constexpr std::size_t maximumResetSeries = 64;

    struct Outcomes {
        std::int64_t good = 0;  // a reading taken, an announcement handed over
        std::int64_t failed = 0;
        friend bool operator==(const Outcomes&, const Outcomes&) = default;
    };

    Outcomes readings;
    std::map<std::pair<std::string, std::string>, std::int64_t> resets;  // (bucket, "5h")
    std::map<std::string, std::int64_t> warnings;                        // by "below_level", …
    Outcomes notifications;
    Outcomes webhooks;

    void countReset(const std::string& bucket, QuotaWindow window);
    void countWarning(WarningReason reason) { warnings[rawValue(reason)] += 1; }

    bool empty() const { return *this == MetricCounters(); }
    friend bool operator==(const MetricCounters&, const MetricCounters&) = default;
};

// {"readings": {"ok": 5, "failed": 1}, "resets": {"codex": {"5h": 2}},
//  "warnings": {"below_level": 1}, "deliveries": {"notification": {"delivered": 1, "failed": 0},
//  "webhook": {…}}}. Read leniently: a count that is no whole number of at least zero, an
// unknown window or reason is left out, never the state around it; throws JSONDecodingError
// only for a member that is no object.
void to_json(nlohmann::json& json, const MetricCounters& counters);
void from_json(const nlohmann::json& json, MetricCounters& counters);

}  // namespace quotalume
