#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <optional>
#include <string>

namespace quotalume {

// Why Codex will not take ordinary usage from the account, or from one bucket of it, now,
// whatever the percentages say.
//
// In this order: a limit Codex says is reached (`rateLimitReachedType`), a spend control that
// is reached, usage Codex says is not allowed; and when Codex says nothing either way, a window
// used up. A reading in which Codex says usage is allowed is never blocked by its percentages.
// Blocked until every used-up window and a reached spend control have reset.
struct BlockedState {
    std::string reason;  // "limit_reached", "spend_control_reached", "usage_not_allowed"
    std::optional<std::string> detail;  // Codex's word for it, the `rateLimitReachedType`
    std::optional<QuotaWindow> window;  // the used-up window that blocks, when one does
    std::optional<Date> until;          // when that window or the spend control resets
    std::optional<Date> earliestReset;  // the soonest reset among the windows
    bool untilSpendControl = false;     // `until` is the reached spend control's own reset

    // The account's: the Codex bucket's and Codex's word for the account.
    static std::optional<BlockedState> of(const UsageSnapshot& reading);
    // One bucket of the reading's. Codex's word on ordinary usage speaks for the account, that
    // is the Codex bucket: another bucket is blocked by its own limits only.
    static std::optional<BlockedState> of(const RateBucket& bucket, const UsageSnapshot& reading);
    static std::optional<BlockedState> of(const RateBucket& bucket,
                                          std::optional<bool> ordinaryUsageAllowed);

    // One occurrence: the same reason and word, and the same reset it waits for (to the
    // minute, as Codex's reset times wander by seconds), or the same soonest reset when it
    // waits for none.
    bool sameOccurrence(const BlockedState& other) const;

    // "Weekly limit reached — resets 09:00", "Workspace credits used up — ask the workspace
    // owner", …; the day is named too when the reset is 12 hours or more after `now`.
    std::string text(Date now) const;

    friend bool operator==(const BlockedState&, const BlockedState&) = default;
};

// "09:00", or with the day when `at` is 12 hours or more after `now`.
std::string momentText(Date at, Date now);

}  // namespace quotalume
