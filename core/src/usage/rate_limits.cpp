#include <quotalume/rate_limits.hpp>

#include <quotalume/text.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <cmath>

namespace quotalume {

using namespace coding;

std::optional<double> RateWindow::validUsedPercent() const {
    if (!usedPercent || !std::isfinite(*usedPercent)) {
        return std::nullopt;
    }
    return std::clamp(*usedPercent, 0.0, 100.0);
}

std::optional<double> RateWindow::remainingPercent() const {
    auto used = validUsedPercent();
    return used ? std::optional(100.0 - *used) : std::nullopt;
}

std::optional<Date> RateWindow::resetDate() const {
    if (!resetsAt || !std::isfinite(*resetsAt) || !(*resetsAt > 0) ||
        *resetsAt > latestUnixSeconds) {
        return std::nullopt;
    }
    return dateFromUnixSeconds(*resetsAt);
}

std::string RateWindow::percentageText() const {
    auto remaining = remainingPercent();
    if (!remaining) {
        return "\u2014";
    }
    if (*remaining > 0 && *remaining < 1) {
        return "<1%";
    }
    return std::to_string(static_cast<int>(std::floor(*remaining))) + "%";
}

std::optional<Decimal> CreditsSnapshot::balanceValue() const {
    return balance ? Decimal::parse(trimmed(*balance)) : std::nullopt;
}

bool CreditsSnapshot::shouldDisplay() const {
    if (unlimited) {
        return true;
    }
    auto value = balanceValue();
    return !(value && value->isZero());
}

std::string RateBucket::id() const {
    return limitId.value_or("codex");
}

std::string RateBucket::title() const {
    std::string bucketID = id();
    if (bucketID == "codex") {
        return "Codex";
    }
    return limitName.value_or(bucketID);
}

std::optional<RateWindow> RateBucket::window(QuotaWindow which) const {
    for (const auto* slot : {&primary, &secondary}) {
        if (*slot && (*slot)->windowDurationMins == minutes(which)) {
            return **slot;
        }
    }
    return std::nullopt;
}

std::vector<RateBucket> RateLimitsResponse::buckets() const {
    if (rateLimitsByLimitId && !rateLimitsByLimitId->empty()) {
        auto codex = rateLimitsByLimitId->find("codex");
        if (codex == rateLimitsByLimitId->end()) {
            return {};
        }
        RateBucket bucket = codex->second;
        bucket.limitId = "codex";
        return {bucket};
    }
    if (rateLimits && rateLimits->id() == "codex") {
        return {*rateLimits};
    }
    return {};
}

void to_json(json& out, const RateWindow& window) {
    out = json::object();
    put(out, "usedPercent", window.usedPercent);
    put(out, "windowDurationMins", window.windowDurationMins);
    put(out, "resetsAt", window.resetsAt);
}

void from_json(const json& in, RateWindow& window) {
    object(in, "window");
    window = RateWindow{optionalDouble(in, "usedPercent"), optionalInt64(in, "windowDurationMins"),
                        optionalDouble(in, "resetsAt")};
}

void to_json(json& out, const CreditsSnapshot& credits) {
    out = {{"hasCredits", credits.hasCredits}, {"unlimited", credits.unlimited}};
    put(out, "balance", credits.balance);
}

void from_json(const json& in, CreditsSnapshot& credits) {
    object(in, "credits");
    credits = CreditsSnapshot{asBool(required(in, "hasCredits"), "hasCredits"),
                              asBool(required(in, "unlimited"), "unlimited"),
                              optionalString(in, "balance")};
}

void to_json(json& out, const RateBucket& bucket) {
    out = json::object();
    put(out, "limitId", bucket.limitId);
    put(out, "limitName", bucket.limitName);
    put(out, "primary", bucket.primary);
    put(out, "secondary", bucket.secondary);
    put(out, "planType", bucket.planType);
    put(out, "credits", bucket.credits);
}

void from_json(const json& in, RateBucket& bucket) {
    object(in, "bucket");
    bucket = RateBucket{optionalString(in, "limitId"),
                        optionalString(in, "limitName"),
                        optionalRecord<RateWindow>(in, "primary"),
                        optionalRecord<RateWindow>(in, "secondary"),
                        optionalString(in, "planType"),
                        optionalRecord<CreditsSnapshot>(in, "credits")};
}

void to_json(json& out, const RateLimitsResponse& response) {
    out = json::object();
    put(out, "rateLimits", response.rateLimits);
    if (response.rateLimitsByLimitId) {
        json map = json::object();
        for (const auto& [id, bucket] : *response.rateLimitsByLimitId) {
            map[id] = bucket;
        }
        out["rateLimitsByLimitId"] = std::move(map);
    }
    put(out, "accountId", response.accountId);
}

void from_json(const json& in, RateLimitsResponse& response) {
    object(in, "rate limits");
    response = RateLimitsResponse{optionalRecord<RateBucket>(in, "rateLimits"), std::nullopt,
                                  optionalString(in, "accountId")};
    if (const json* map = member(in, "rateLimitsByLimitId")) {
        object(*map, "rateLimitsByLimitId");
        std::map<std::string, RateBucket> buckets;
        for (const auto& [id, bucket] : map->items()) {
            // A null entry is not a bucket: the whole answer is malformed.
            if (bucket.is_null()) {
                fail(Kind::valueNotFound, id, "null bucket");
            }
            buckets.emplace(id, bucket.get<RateBucket>());
        }
        response.rateLimitsByLimitId = std::move(buckets);
    }
}

}  // namespace quotalume
