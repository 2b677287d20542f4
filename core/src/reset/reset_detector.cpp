#include <quotalume/reset/reset_detector.hpp>

#include <quotalume/support/uuid.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <cmath>

namespace quotalume {

using namespace coding;

namespace {

double clamped(double percent) {
    return percent < 0 ? 0 : std::min(percent, 100.0);
}

bool usable(const std::optional<double>& percent) {
    return percent && std::isfinite(*percent);
}

}  // namespace

void ResetDetector::renameAccount(const std::string& from, const std::string& to) {
    if (accountFingerprint_ == from) {
        accountFingerprint_ = to;
    }
}

std::string ResetDetector::key(const std::string& bucket, QuotaWindow window) {
    return bucket + ":" + std::to_string(minutes(window));
}

std::vector<ResetEvent> ResetDetector::observe(const UsageSnapshot& snapshot) {
    if (accountFingerprint_ != snapshot.accountFingerprint) {
        accountFingerprint_ = snapshot.accountFingerprint;
        observations_.clear();
        lastObservedAt_.reset();
    }
    // A reading dated before the last one (the clock was set back) can still show a window
    // restored to full, which would otherwise never be told; nothing else of it is trusted.
    const bool behind = lastObservedAt_ && snapshot.observedAt < *lastObservedAt_;
    if (lastObservedAt_ && !behind && !(snapshot.observedAt > *lastObservedAt_)) {
        return {};
    }
    if (!behind) {
        lastObservedAt_ = snapshot.observedAt;
    }

    std::vector<ResetEvent> events;
    for (const auto& bucket : snapshot.buckets) {
        const std::string limitID = bucket.id();
        for (QuotaWindow which : bucket.windows()) {
            const std::string key = ResetDetector::key(limitID, which);
            auto current = bucket.window(which);
            if (!current || !usable(current->usedPercent)) {
                continue;  // keep what we knew until a usable value arrives
            }
            const double currentUsed = clamped(*current->usedPercent);
            auto stored = observations_.find(key);
            bool found = false;
            if (stored != observations_.end() && usable(stored->second.window.usedPercent)) {
                const RateWindow& previous = stored->second.window;
                const double previousUsed = clamped(*previous.usedPercent);
                const bool restored = currentUsed == 0 && previousUsed > 0;
                auto previousReset = previous.resetDate();
                auto nextReset = current->soundResetDate(snapshot.observedAt);
                const bool newWindow =
                    !behind && previousReset && nextReset &&
                    snapshot.observedAt >= *previousReset && *nextReset > snapshot.observedAt &&
                    std::chrono::duration<double>(*nextReset - *previousReset).count() > 60.0;
                if (restored || newWindow) {
                    found = true;
                    events.push_back(ResetEvent{
                        randomUUID(), snapshot.observedAt, limitID, bucket.title(), which,
                        previousUsed, 100 - currentUsed, previousReset, nextReset,
                        restored ? ResetReason::restoredToFull : ResetReason::newWindow});
                }
                if (!nextReset) {
                    // No sound reset time now: the last sound one still holds, so the window
                    // that follows is still compared with it.
                    current->resetsAt = previous.resetsAt;
                }
            }
            if (!behind || found) {
                observations_[key] = Observation{*current, snapshot.observedAt};
            }
        }
    }
    return events;
}

std::optional<Date> ResetDetector::heldReset(const std::string& bucket, QuotaWindow window) const {
    const auto stored = observations_.find(key(bucket, window));
    return stored == observations_.end() ? std::nullopt : stored->second.window.resetDate();
}

void to_json(json& out, const ResetDetector& detector) {
    json observations = json::object();
    for (const auto& [key, observation] : detector.observations_) {
        observations[key] = {{"window", observation.window},
                             {"observedAt", referenceSeconds(observation.observedAt)}};
    }
    out = {{"observations", std::move(observations)}};
    put(out, "accountFingerprint", detector.accountFingerprint_);
    if (detector.lastObservedAt_) {
        out["lastObservedAt"] = referenceSeconds(*detector.lastObservedAt_);
    }
}

void from_json(const json& in, ResetDetector& detector) {
    object(in, "detector");
    ResetDetector decoded;
    decoded.accountFingerprint_ = optionalString(in, "accountFingerprint");
    decoded.lastObservedAt_ = optional(in, "lastObservedAt", asReferenceDate);
    const json& observations = object(required(in, "observations"), "observations");
    for (const auto& [key, value] : observations.items()) {
        object(value, "observation");
        decoded.observations_.emplace(
            key, ResetDetector::Observation{
                     required(value, "window").get<RateWindow>(),
                     asReferenceDate(required(value, "observedAt"), "observedAt")});
    }
    detector = std::move(decoded);
}

}  // namespace quotalume
