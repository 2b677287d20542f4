#pragma once

#include <quotalume/date.hpp>
#include <quotalume/decimal.hpp>
#include <quotalume/quota_window.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// The records of Codex's `account/rateLimits/read` answer, also kept inside snapshots.
// Reading: exact keys, unknown keys ignored, null means absent, any mismatch fails the whole
// answer with JSONDecodingError. Writing leaves absent members out.

struct RateWindow {
    std::optional<double> usedPercent;
    std::optional<std::int64_t> windowDurationMins;
    std::optional<double> resetsAt;  // Unix seconds

    // usedPercent clamped into 0…100; absent when missing or not finite.
    std::optional<double> validUsedPercent() const;
    std::optional<double> remainingPercent() const;
    // Only for a finite resetsAt above 0 and before 2200 (milliseconds are no date).
    std::optional<Date> resetDate() const;
    // The remaining share rounded down ("66%"), "<1%" for a sliver, "—" when unknown.
    std::string percentageText() const;

    friend bool operator==(const RateWindow&, const RateWindow&) = default;
};

struct CreditsSnapshot {
    bool hasCredits = false;
    bool unlimited = false;
    std::optional<std::string> balance;

    std::optional<Decimal> balanceValue() const;
    // Hidden only when the balance is known to be exactly zero and not unlimited.
    bool shouldDisplay() const;
    // The credits row in the current language: unlimited, the exact balance in the locale's
    // digits and separators, or available / none.
    std::string displayText() const;

    friend bool operator==(const CreditsSnapshot&, const CreditsSnapshot&) = default;
};

struct RateBucket {
    std::optional<std::string> limitId;
    std::optional<std::string> limitName;
    std::optional<RateWindow> primary;
    std::optional<RateWindow> secondary;
    std::optional<std::string> planType;
    std::optional<CreditsSnapshot> credits;

    // limitId, "codex" when absent.
    std::string id() const;
    std::string title() const;
    // The first window, primary then secondary, whose length is exactly the one asked for.
    std::optional<RateWindow> window(QuotaWindow window) const;

    friend bool operator==(const RateBucket&, const RateBucket&) = default;
};

struct RateLimitsResponse {
    std::optional<RateBucket> rateLimits;
    std::optional<std::map<std::string, RateBucket>> rateLimitsByLimitId;
    std::optional<std::string> accountId;

    // Only the Codex bucket, or nothing.
    std::vector<RateBucket> buckets() const;

    friend bool operator==(const RateLimitsResponse&, const RateLimitsResponse&) = default;
};

void to_json(nlohmann::json& json, const RateWindow& window);
void from_json(const nlohmann::json& json, RateWindow& window);
void to_json(nlohmann::json& json, const CreditsSnapshot& credits);
void from_json(const nlohmann::json& json, CreditsSnapshot& credits);
void to_json(nlohmann::json& json, const RateBucket& bucket);
void from_json(const nlohmann::json& json, RateBucket& bucket);
void to_json(nlohmann::json& json, const RateLimitsResponse& response);
void from_json(const nlohmann::json& json, RateLimitsResponse& response);

}  // namespace quotalume
