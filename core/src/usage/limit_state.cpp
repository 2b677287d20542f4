#include <quotalume/usage/limit_state.hpp>

#include <quotalume/l10n/l10n.hpp>

#include <chrono>

namespace quotalume {
namespace {

constexpr auto sameMinute = std::chrono::seconds(60);

bool within(const std::optional<Date>& a, const std::optional<Date>& b) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    return *a - *b <= sameMinute && *b - *a <= sameMinute;
}

}  // namespace

std::optional<BlockedState> BlockedState::of(const UsageSnapshot& reading) {
    const std::optional<RateBucket> bucket = reading.codexBucket();
    return bucket ? of(*bucket, reading) : std::nullopt;
}

std::optional<BlockedState> BlockedState::of(const RateBucket& bucket,
                                             const UsageSnapshot& reading) {
    return of(bucket, bucket.id() == "codex" ? reading.ordinaryUsageAllowed : std::nullopt);
}

std::optional<BlockedState> BlockedState::of(const RateBucket& bucket,
                                             std::optional<bool> ordinaryUsageAllowed) {
    BlockedState state;
    // Blocked until every used-up window has reset: the latest of their resets.
    for (QuotaWindow which : bucket.windows()) {
        const std::optional<RateWindow> window = bucket.window(which);
        const std::optional<Date> reset = window->resetDate();
        if (reset && (!state.earliestReset || *reset < *state.earliestReset)) {
            state.earliestReset = reset;
        }
        if (window->validUsedPercent().value_or(0) >= 100 &&
            (!state.window || (reset && (!state.until || *reset > *state.until)))) {
            state.window = which;
            state.until = reset;
        }
    }
    const bool spendReached = bucket.spendControlReached.value_or(false);
    const std::optional<Date> spendReset =
        spendReached && bucket.individualLimit ? bucket.individualLimit->resetDate() : std::nullopt;
    const bool workspaceCredits =
        bucket.rateLimitReachedType &&
        bucket.rateLimitReachedType->find("credits_depleted") != std::string::npos;
    if (bucket.rateLimitReachedType) {
        state.reason = "limit_reached";
        state.detail = bucket.rateLimitReachedType;
        if (workspaceCredits) {
            state.window.reset();  // no window's reset brings credits back
            state.until.reset();
            return state;
        }
    } else if (spendReached) {
        state.reason = "spend_control_reached";
        if (!spendReset) {
            state.window.reset();
            state.until.reset();  // the spend control's own end is not known
        }
    } else if (ordinaryUsageAllowed == false) {
        state.reason = "usage_not_allowed";
    } else if (!ordinaryUsageAllowed && state.window) {
        state.reason = "limit_reached";
    } else {
        return std::nullopt;
    }
    // A reached spend control lasts until its own reset too, whatever else is reached; the text
    // then names what lasts longest.
    if (spendReset && (!state.until || *spendReset >= *state.until)) {
        state.until = spendReset;
        state.untilSpendControl = true;
        state.window.reset();
    }
    return state;
}

bool BlockedState::sameOccurrence(const BlockedState& other) const {
    return reason == other.reason && detail == other.detail &&
           (until || other.until ? within(until, other.until)
                                 : within(earliestReset, other.earliestReset));
}

std::string momentText(Date at, Date now) {
    const bool later = at - now >= std::chrono::hours(12);
    return L10n::date(at, later ? DateStyle::shortStyle : DateStyle::none, DateStyle::shortStyle);
}

std::string BlockedState::text(Date now) const {
    if (detail == "workspace_owner_credits_depleted") {
        return L10n::render("blocked.owner_credits");
    }
    if (detail == "workspace_member_credits_depleted") {
        return L10n::render("blocked.member_credits");
    }
    if (detail == "workspace_owner_usage_limit_reached") {
        return L10n::render("blocked.owner_usage");
    }
    if (detail == "workspace_member_usage_limit_reached") {
        return L10n::render("blocked.member_usage");
    }
    if (untilSpendControl && until) {
        return L10n::render("blocked.spend_control_until", {momentText(*until, now)});
    }
    if (window) {
        const std::string name = quotalume::title(*window);
        return until ? L10n::render("blocked.window_until", {name, momentText(*until, now)})
                     : L10n::render("blocked.window", {name});
    }
    if (reason == "spend_control_reached") {
        return until ? L10n::render("blocked.spend_control_until", {momentText(*until, now)})
                     : L10n::render("blocked.spend_control");
    }
    return L10n::render(reason == "usage_not_allowed" ? "blocked.not_allowed" : "blocked.limit");
}

}  // namespace quotalume
