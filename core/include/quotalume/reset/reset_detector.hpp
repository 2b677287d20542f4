#pragma once

#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/rate_limits.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// Compares each window of each bucket of a snapshot with its last usable one of the same
// account and reports every window that was reset, once. Persisted with the monitor state, so a
// reset that happened while the program was not running is still found on the next reading.
class ResetDetector {
public:
    ResetDetector() = default;

    // The resets this snapshot reveals: bucket by bucket, the Codex bucket first, and the
    // shorter window first within one. A snapshot at the time of the
    // last accepted one changes nothing; one dated before it (a clock set back) is compared only
    // for a window restored to full, and kept only where it found one. A window without a sound
    // reset time keeps the last sound one.
    std::vector<ResetEvent> observe(const UsageSnapshot& snapshot);
    // The reset time the window's occurrence has as far as detection knows: the last sound one.
    std::optional<Date> heldReset(const std::string& bucket, QuotaWindow window) const;
    // "codex:300": a window's observation, whatever the bucket or length, is kept under its
    // bucket's id and its length; older versions read every such key.
    static std::string key(const std::string& bucket, QuotaWindow window);
    // Carries the observations over when an account's fingerprint is written anew.
    void renameAccount(const std::string& from, const std::string& to);

    struct Observation {
        RateWindow window;  // as received, not clamped
        Date observedAt;
        friend bool operator==(const Observation&, const Observation&) = default;
    };
    const std::optional<std::string>& accountFingerprint() const { return accountFingerprint_; }
    const std::map<std::string, Observation>& observations() const { return observations_; }
    const std::optional<Date>& lastObservedAt() const { return lastObservedAt_; }

    friend bool operator==(const ResetDetector&, const ResetDetector&) = default;
    // Dates as seconds since 2001-01-01 UTC, as in the state file.
    friend void to_json(nlohmann::json& json, const ResetDetector& detector);
    friend void from_json(const nlohmann::json& json, ResetDetector& detector);

private:
    std::optional<std::string> accountFingerprint_;
    std::map<std::string, Observation> observations_;
    std::optional<Date> lastObservedAt_;
};

}  // namespace quotalume
