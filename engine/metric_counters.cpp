#include "metric_counters.hpp"

#include <quotalume/support/json_decoding_error.hpp>

#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using nlohmann::json;

// Longer than any bucket id Codex gives; a longer one is not kept.
constexpr std::size_t longestCountedBucketId = 256;

// Far more than a lifetime of readings, and still exact in Prometheus' doubles; counting on from
// a larger one could overflow.
constexpr std::uint64_t largestCount = std::uint64_t{1} << 53;

// A count as stored, or nothing for one that is not.
std::optional<std::int64_t> storedCount(const json& value) {
    const bool whole =
        value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0);
    if (whole && value.get<std::uint64_t>() <= largestCount) {
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    return std::nullopt;
}

const json* countersMember(const json& in, const char* key) {
    const auto found = in.find(key);
    return found != in.end() && found->is_object() ? &*found : nullptr;
}

json storedOutcomes(const MetricCounters::Outcomes& outcomes, const char* good) {
    return {{good, outcomes.good}, {"failed", outcomes.failed}};
}

MetricCounters::Outcomes outcomesStored(const json* in, const char* good) {
    MetricCounters::Outcomes outcomes;
    if (in != nullptr) {
        for (auto [key, into] : {std::pair{good, &outcomes.good}, {"failed", &outcomes.failed}}) {
            if (const auto found = in->find(key); found != in->end()) {
                *into = storedCount(*found).value_or(0);
            }
        }
    }
    return outcomes;
}

}  // namespace

void MetricCounters::countReset(const std::string& bucket, QuotaWindow window) {
    const auto key = std::pair(bucket, optionId(window));
    if (resets.contains(key) ||
        (resets.size() < maximumResetSeries && bucket.size() <= longestCountedBucketId)) {
        resets[key] += 1;
    }
}

void to_json(json& out, const MetricCounters& counters) {
    json resets = json::object();
    for (const auto& [key, count] : counters.resets) {
        resets[key.first][key.second] = count;
    }
    out = {{"readings", storedOutcomes(counters.readings, "ok")},
           {"deliveries",
            {{"notification", storedOutcomes(counters.notifications, "delivered")},
             {"webhook", storedOutcomes(counters.webhooks, "delivered")}}}};
    if (!resets.empty()) {
        out["resets"] = std::move(resets);
    }
    if (!counters.warnings.empty()) {
        out["warnings"] = counters.warnings;
    }
}

void from_json(const json& in, MetricCounters& counters) {
    if (!in.is_object()) {
        throw JSONDecodingError(JSONDecodingError::Kind::typeMismatch, "counters: not an object");
    }
    MetricCounters decoded;
    decoded.readings = outcomesStored(countersMember(in, "readings"), "ok");
    if (const json* resets = countersMember(in, "resets")) {
        for (const auto& [bucket, windows] : resets->items()) {
            if (!windows.is_object() || bucket.size() > longestCountedBucketId) {
                continue;
            }
            for (const auto& [window, count] : windows.items()) {
                const auto known = quotaWindowFromOptionId(window);
                const auto read = storedCount(count);
                if (known && read && decoded.resets.size() < MetricCounters::maximumResetSeries) {
                    decoded.resets[{bucket, optionId(*known)}] = *read;
                }
            }
        }
    }
    if (const json* warnings = countersMember(in, "warnings")) {
        for (const auto& [reason, count] : warnings->items()) {
            const auto read = storedCount(count);
            if (warningReasonFromRaw(reason) && read) {
                decoded.warnings[reason] = *read;
            }
        }
    }
    if (const json* deliveries = countersMember(in, "deliveries")) {
        decoded.notifications =
            outcomesStored(countersMember(*deliveries, "notification"), "delivered");
        decoded.webhooks = outcomesStored(countersMember(*deliveries, "webhook"), "delivered");
    }
    counters = std::move(decoded);
}

}  // namespace quotalume
