#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/rate_limits.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// One reading of an account's limits.
struct UsageSnapshot {
    Date observedAt;
    std::string accountFingerprint;  // 64 lower-case hex digits
    std::vector<RateBucket> buckets;
    // The same account as earlier versions named it (from the Codex home as spelled, not
    // resolved), when that differs; read once to carry a stored history over, never stored.
    std::optional<std::string> legacyFingerprint;
    // Whether Codex lets the account use its included usage now; absent when it did not say.
    // Only this tells that a blocked account may work again, never the percentages.
    std::optional<bool> ordinaryUsageAllowed;
    std::optional<ResetCreditsSummary> resetCredits;  // banked resets
    // Whether the banked resets' details were asked for: a light read has their count only.
    // Never stored; a stored reading holds the details of the last full read.
    bool creditDetails = true;
    // The account alone, in whatever Codex home: SHA-256 of its id (or e-mail), when Codex names
    // it. Tells two sources reading one account; never stored.
    std::optional<std::string> accountKey;

    // SHA-256 of the UTF-8 bytes, as 64 lower-case hexadecimal digits.
    static std::string fingerprint(std::string_view text);

    std::optional<RateBucket> codexBucket() const;
    // The first bucket whose id is `id`.
    std::optional<RateBucket> bucket(const std::string& id) const;
    UsageSnapshot codexOnly() const;

    // Drops every reset time no window can have at this reading: none, not after 1970, or
    // later than the reading's time plus the window's length and a day. Such a window shows
    // its reset as unknown, and detection goes on from the last sound one.
    void dropUnsoundResetTimes();
    // The lengths of the Codex bucket's windows that no window can have (none or negative
    // minutes, or more than a year): such a window cannot be shown, and is named instead.
    std::vector<std::int64_t> unusableWindowLengths() const;

    nlohmann::json toJSON(DateCoding dates) const;
    // The first three members are required; throws JSONDecodingError.
    static UsageSnapshot fromJSON(const nlohmann::json& json, DateCoding dates);

    friend bool operator==(const UsageSnapshot&, const UsageSnapshot&) = default;
};

}  // namespace quotalume
