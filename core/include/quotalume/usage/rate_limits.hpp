#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/decimal.hpp>
#include <quotalume/usage/quota_window.hpp>

#include <cstddef>
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
    static constexpr std::int64_t longestMinutes = longestWindowMinutes;
    // windowDurationMins, when it is a length a window can have (a minute to a year).
    std::optional<std::int64_t> usableLength() const;
    // The reset date, when a reading taken at `observedAt` can have it: no later than the
    // window's length and a day on (a year and a day for a length that is no length).
    std::optional<Date> soundResetDate(Date observedAt) const;
    // The remaining share rounded down ("66%"), "<1%" for a sliver, "—" when unknown.
    std::string percentageText() const;

    friend bool operator==(const RateWindow&, const RateWindow&) = default;
};

struct CreditsSnapshot {
    // Codex's balance text is read only up to this length; a longer one reads as unknown.
    static constexpr std::size_t longestBalance = 64;

    bool hasCredits = false;
    bool unlimited = false;
    std::optional<std::string> balance;

    std::optional<Decimal> balanceValue() const;
    // Hidden only when the balance is known to be exactly zero and not unlimited.
    bool shouldDisplay() const;
    // The credits row in the current language: unlimited, the exact balance in the locale's
    // digits and separators ("more than 999,999,999,999" past twelve whole digits), or
    // available / none.
    std::string displayText() const;

    friend bool operator==(const CreditsSnapshot&, const CreditsSnapshot&) = default;
};

// A spend-control limit a workspace set for this member: amounts as Codex writes them.
struct SpendControlLimit {
    std::optional<std::string> limit;
    std::optional<std::string> used;
    std::optional<double> remainingPercent;
    std::optional<double> resetsAt;  // Unix seconds

    std::optional<Date> resetDate() const;
    friend bool operator==(const SpendControlLimit&, const SpendControlLimit&) = default;
};

// One banked reset the account may spend; `status` is Codex's word ("available", …), any
// other text read as "unknown".
struct ResetCredit {
    std::string id;
    std::string status = "unknown";
    std::optional<double> expiresAt;  // Unix seconds; never when absent
    std::optional<std::string> title;

    std::optional<Date> expiryDate() const;
    friend bool operator==(const ResetCredit&, const ResetCredit&) = default;
};

struct ResetCreditsSummary {
    static constexpr std::size_t maximumCredits = 16;  // more are not read

    std::int64_t availableCount = 0;
    std::vector<ResetCredit> credits;

    // The available credit that expires first, if any expires.
    std::optional<ResetCredit> nextExpiring() const;
    friend bool operator==(const ResetCreditsSummary&, const ResetCreditsSummary&) = default;
};

// The members below Codex added beside the percentages are read leniently: an unknown word
// reads as "unknown", a member of another type as absent, and the rest of the answer stands.
struct RateBucket {
    std::optional<std::string> limitId;
    std::optional<std::string> limitName;
    std::optional<RateWindow> primary;
    std::optional<RateWindow> secondary;
    std::optional<std::string> planType;
    std::optional<CreditsSnapshot> credits;
    std::optional<std::string> rateLimitReachedType;  // a known word, or "unknown"
    std::optional<bool> spendControlReached;
    std::optional<SpendControlLimit> individualLimit;

    // limitId, "codex" when absent.
    std::string id() const;
    std::string title() const;
    // The first window, primary then secondary, whose length is exactly the one asked for.
    std::optional<RateWindow> window(QuotaWindow window) const;
    // The lengths of its windows that a window can have, shortest first, each once.
    std::vector<QuotaWindow> windows() const;

    friend bool operator==(const RateBucket&, const RateBucket&) = default;
};

struct RateLimitsResponse {
    std::optional<RateBucket> rateLimits;
    std::optional<std::map<std::string, RateBucket>> rateLimitsByLimitId;
    std::optional<std::string> accountId;
    std::optional<bool> ordinaryUsageAllowed;  // absent: unknown, never "allowed"
    std::optional<ResetCreditsSummary> rateLimitResetCredits;

    // Ids and names longer than this, or with control characters, are no bucket's.
    static constexpr std::size_t longestBucketId = 64;
    static constexpr std::size_t maximumBuckets = 16;  // the Codex bucket and 15 others

    // The Codex bucket first, then every other in the order of their ids, at most
    // maximumBuckets; nothing without a Codex bucket.
    std::vector<RateBucket> buckets() const;

    friend bool operator==(const RateLimitsResponse&, const RateLimitsResponse&) = default;
};

void to_json(nlohmann::json& json, const RateWindow& window);
void from_json(const nlohmann::json& json, RateWindow& window);
void to_json(nlohmann::json& json, const CreditsSnapshot& credits);
void from_json(const nlohmann::json& json, CreditsSnapshot& credits);
void to_json(nlohmann::json& json, const SpendControlLimit& limit);
void to_json(nlohmann::json& json, const ResetCreditsSummary& summary);
// Lenient: nothing for a value that is not a summary.
std::optional<ResetCreditsSummary> resetCreditsFromJSON(const nlohmann::json& json);
void to_json(nlohmann::json& json, const RateBucket& bucket);
void from_json(const nlohmann::json& json, RateBucket& bucket);
void to_json(nlohmann::json& json, const RateLimitsResponse& response);
void from_json(const nlohmann::json& json, RateLimitsResponse& response);

}  // namespace quotalume
