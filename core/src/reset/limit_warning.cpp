#include <quotalume/reset/limit_warning.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/support/uuid.hpp>
#include <quotalume/usage/limit_state.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <cmath>

namespace quotalume {

using namespace coding;

namespace {

constexpr std::array<std::pair<WarningReason, std::string_view>, 8> reasons = {{
    {WarningReason::belowLevel, "below_level"},
    {WarningReason::forecastExhausted, "forecast_exhausted"},
    {WarningReason::limitReached, "limit_reached"},
    {WarningReason::usageNotAllowed, "usage_not_allowed"},
    {WarningReason::spendControlReached, "spend_control_reached"},
    {WarningReason::resetCreditExpiring, "reset_credit_expiring"},
    {WarningReason::resetMoved, "reset_moved"},
    {WarningReason::creditNotApplied, "reset_credit_not_applied"},
}};

// A reset time that moves by less is Codex's rounding, not a move.
constexpr auto smallestMove = std::chrono::minutes(5);

// A banked reset is warned of this long before it expires.
constexpr auto creditNotice = std::chrono::days(3);

std::string percentText(double share) {
    return std::to_string(static_cast<long long>(std::floor(std::clamp(share, 0.0, 100.0)))) + "%";
}

bool sameReset(const std::optional<Date>& a, const std::optional<Date>& b) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    return *a - *b <= UsageForecast::sameReset && *b - *a <= UsageForecast::sameReset;
}

// Two reset times of one window's occurrence: the same, or moved by less than the window.
bool sameOccurrence(const std::optional<Date>& a, const std::optional<Date>& b, QuotaWindow which) {
    if (!a || !b) {
        return a.has_value() == b.has_value();
    }
    const auto length = std::chrono::minutes(minutes(which));
    return sameReset(a, b) || (*a - *b < length && *b - *a < length);
}

}  // namespace

bool isBlocked(WarningReason reason) {
    return reason == WarningReason::limitReached || reason == WarningReason::usageNotAllowed ||
           reason == WarningReason::spendControlReached;
}

const char* rawValue(WarningReason reason) {
    for (const auto& [known, raw] : reasons) {
        if (known == reason) {
            return raw.data();
        }
    }
    return "below_level";
}

std::optional<WarningReason> warningReasonFromRaw(std::string_view raw) {
    for (const auto& [known, name] : reasons) {
        if (name == raw) {
            return known;
        }
    }
    return std::nullopt;
}

std::string LimitWarning::headline() const {
    return accountHeadline(accountLabel, plainHeadline());
}

std::string LimitWarning::plainHeadline() const {
    switch (reason) {
        case WarningReason::belowLevel:
            return L10n::render("warning.level_headline");
        case WarningReason::forecastExhausted:
            return L10n::render("warning.forecast_headline");
        case WarningReason::limitReached:
            return L10n::render("warning.limit_headline");
        case WarningReason::usageNotAllowed:
            return L10n::render("warning.not_allowed_headline");
        case WarningReason::spendControlReached:
            return L10n::render("warning.spend_headline");
        case WarningReason::resetMoved:
            return L10n::render("warning.moved_headline");
        case WarningReason::creditNotApplied:
            return L10n::render("warning.unapplied_headline");
        case WarningReason::resetCreditExpiring:
            break;
    }
    return L10n::render("warning.credit_headline");
}

std::string LimitWarning::detailText() const {
    switch (reason) {
        case WarningReason::belowLevel: {
            const std::string left = percentText(remainingPercent.value_or(0));
            return resetAt ? L10n::render("warning.level_detail",
                                          {left, momentText(*resetAt, observedAt)})
                           : L10n::render("warning.level_detail_no_reset", {left});
        }
        case WarningReason::forecastExhausted:
            return L10n::render("warning.forecast_detail",
                                {momentText(runsOutAt.value_or(observedAt), observedAt),
                                 momentText(resetAt.value_or(observedAt), observedAt)});
        case WarningReason::resetCreditExpiring:
            return L10n::render("warning.credit_detail",
                                {L10n::date(creditExpiresAt.value_or(observedAt),
                                            DateStyle::mediumStyle, DateStyle::shortStyle)});
        case WarningReason::resetMoved:
            return L10n::render("warning.moved_detail",
                                {momentText(resetAt.value_or(observedAt), observedAt),
                                 momentText(previousResetAt.value_or(observedAt), observedAt)});
        case WarningReason::creditNotApplied:
            return L10n::render("warning.unapplied_detail",
                                {creditTitle.value_or(detail.value_or(std::string()))});
        case WarningReason::limitReached:
        case WarningReason::usageNotAllowed:
        case WarningReason::spendControlReached:
            break;
    }
    BlockedState state{rawValue(reason), detail, window, resetAt, std::nullopt};
    return state.text(observedAt);
}

std::string LimitWarning::title() const {
    const std::string text =
        window ? L10n::render("warning.title", {quotalume::title(*window), plainHeadline()})
               : plainHeadline();
    // Another bucket's is named: the same window of Codex's may be anywhere else.
    return bucketId == "codex" ? text : L10n::render("limits.bucket_line", {bucketName, text});
}

std::string LimitWarning::message() const {
    std::string text = headline() + "\n" + detailText();
    if (const std::string about = announcedName(bucketId, bucketName, window); !about.empty()) {
        text += "\n" + about;
    }
    return text;
}

void to_json(json& out, const LimitWarning& warning) {
    out = {{"id", warning.id},
           {"observedAt", referenceSeconds(warning.observedAt)},
           {"bucketId", warning.bucketId},
           {"bucketName", warning.bucketName},
           {"reason", rawValue(warning.reason)}};
    if (warning.window) {
        out["window"] = minutes(*warning.window);
    }
    put(out, "usedPercent", warning.usedPercent);
    put(out, "remainingPercent", warning.remainingPercent);
    put(out, "levelPercent", warning.levelPercent);
    put(out, "detail", warning.detail);
    put(out, "creditTitle", warning.creditTitle);
    for (const auto& [key, date] :
         {std::pair("resetAt", &warning.resetAt), std::pair("runsOutAt", &warning.runsOutAt),
          std::pair("creditExpiresAt", &warning.creditExpiresAt),
          std::pair("previousResetAt", &warning.previousResetAt)}) {
        if (*date) {
            out[key] = referenceSeconds(**date);
        }
    }
}

void from_json(const json& in, LimitWarning& warning) {
    object(in, "warning");
    std::string id = asString(required(in, "id"), "id");
    // The id travels in a webhook header: a line break in it would start a header of its own.
    if (hasControlCharacter(id)) {
        fail(Kind::dataCorrupted, "id", "control character");
    }
    auto reason = warningReasonFromRaw(asString(required(in, "reason"), "reason"));
    if (!reason) {
        fail(Kind::dataCorrupted, "reason", "not a warning reason");
    }
    std::optional<QuotaWindow> window;
    if (auto length = optionalInt64(in, "window")) {
        window = quotaWindowFromMinutes(*length);
        if (!window) {
            fail(Kind::dataCorrupted, "window", "not a quota window");
        }
    }
    warning = LimitWarning{std::move(id),
                           asReferenceDate(required(in, "observedAt"), "observedAt"),
                           asString(required(in, "bucketId"), "bucketId"),
                           asString(required(in, "bucketName"), "bucketName"),
                           *reason,
                           window,
                           optionalDouble(in, "usedPercent"),
                           optionalDouble(in, "remainingPercent"),
                           optional(in, "resetAt", asReferenceDate),
                           optionalInt64(in, "levelPercent"),
                           optional(in, "runsOutAt", asReferenceDate),
                           optionalString(in, "detail"),
                           optional(in, "creditExpiresAt", asReferenceDate),
                           optional(in, "previousResetAt", asReferenceDate),
                           optionalString(in, "creditTitle")};
    if (warning.creditTitle && (warning.creditTitle->size() > CreditUse::longestText ||
                                hasControlCharacter(*warning.creditTitle))) {
        fail(Kind::dataCorrupted, "creditTitle", "not a credit's");
    }
}

// ---- Detection

std::vector<LimitWarning> detectWarnings(const WarningInput& input) {
    std::vector<LimitWarning> owed;
    const bool codex = input.bucket == "codex";
    const std::optional<RateBucket> bucket = input.reading.bucket(input.bucket);
    if (!bucket) {
        return owed;
    }
    const auto blockedIn = [&](const UsageSnapshot& reading) -> std::optional<BlockedState> {
        const std::optional<RateBucket> own = reading.bucket(input.bucket);
        return own ? BlockedState::of(*own, reading) : std::nullopt;
    };
    const std::optional<BlockedState> blocked = blockedIn(input.reading);
    auto make = [&](WarningReason reason) {
        LimitWarning warning;
        warning.id = randomUUID();
        warning.observedAt = input.reading.observedAt;
        warning.bucketId = bucket->id();
        warning.bucketName = bucket->title();
        warning.reason = reason;
        return warning;
    };
    // Warnings of this occurrence of the window: after its latest reset, with its reset time
    // or one it moved from (a new occurrence resets a whole window's length later).
    auto issuedFor = [&](QuotaWindow which, WarningReason reason,
                         const std::optional<Date>& reset) {
        std::vector<const LimitWarning*> found;
        const auto lastReset = input.lastResets.find(which);
        for (const LimitWarning& warning : input.issued) {
            // Another account's warnings (before this one's readings began) match only exactly.
            const bool ours = !input.accountSince || warning.observedAt >= *input.accountSince;
            if (warning.bucketId == input.bucket && warning.reason == reason &&
                warning.window == which &&
                (ours ? sameOccurrence(warning.resetAt, reset, which)
                      : sameReset(warning.resetAt, reset)) &&
                // A warning of the reading that found the reset is of the new occurrence.
                (lastReset == input.lastResets.end() || warning.observedAt >= lastReset->second)) {
                found.push_back(&warning);
            }
        }
        return found;
    };

    for (QuotaWindow which : bucket->windows()) {
        const std::optional<RateWindow> window = bucket->window(which);
        const std::optional<double> used = window->validUsedPercent();
        if (!used || (*used >= 100 && blocked)) {
            continue;  // a used-up window is a blocked state, warned of as such
        }
        std::optional<Date> reset = window->soundResetDate(input.reading.observedAt);
        if (const auto held = input.heldResets.find(which);
            !reset && held != input.heldResets.end()) {
            reset = held->second;
        }
        const double left = 100 - *used;
        // The lowest level crossed, unless one as low was warned of in this occurrence.
        std::optional<std::int64_t> crossed;
        for (std::int64_t level : input.preferences.levels) {
            if (left <= static_cast<double>(level) && (!crossed || level < *crossed)) {
                crossed = level;
            }
        }
        if (crossed) {
            bool warned = false;
            for (const LimitWarning* earlier : issuedFor(which, WarningReason::belowLevel, reset)) {
                warned = warned || earlier->levelPercent.value_or(101) <= *crossed;
            }
            if (!warned) {
                LimitWarning warning = make(WarningReason::belowLevel);
                warning.window = which;
                warning.usedPercent = *used;
                warning.remainingPercent = left;
                warning.resetAt = reset;
                warning.levelPercent = crossed;
                owed.push_back(std::move(warning));
            }
        }
        const auto forecast = input.forecasts.find(which);
        if (input.preferences.forecast && reset && forecast != input.forecasts.end() &&
            forecast->second.runsOutAt && *forecast->second.runsOutAt > input.now &&
            *forecast->second.runsOutAt < *reset &&
            issuedFor(which, WarningReason::forecastExhausted, reset).empty()) {
            LimitWarning warning = make(WarningReason::forecastExhausted);
            warning.window = which;
            warning.usedPercent = *used;
            warning.remainingPercent = left;
            warning.resetAt = reset;
            warning.runsOutAt = forecast->second.runsOutAt;
            owed.push_back(std::move(warning));
        }
    }

    const std::optional<RateBucket> earlier =
        input.previous ? input.previous->bucket(input.bucket) : std::nullopt;
    const bool watchMoves = earlier && input.preferences.resetMoved;
    for (QuotaWindow which : watchMoves ? bucket->windows() : std::vector<QuotaWindow>()) {
        const std::optional<RateWindow> now = bucket->window(which);
        const std::optional<RateWindow> then = earlier->window(which);
        const std::optional<Date> to = now->soundResetDate(input.reading.observedAt);
        const std::optional<Date> from =
            then ? then->soundResetDate(input.previous->observedAt) : std::nullopt;
        const std::optional<double> used = now->validUsedPercent();
        // Nothing used before (or unknown): not yet begun.
        const double usedBefore = then ? then->validUsedPercent().value_or(0) : 0;
        const auto lastReset = input.lastResets.find(which);
        // Later by more than rounding and by less than a new occurrence would be, with nothing
        // reset between the readings: neither a reset seen nor a share that fell. A window not
        // yet used has no reset of its own: Codex's moves on with the clock.
        if (!to || !from || *to - *from <= smallestMove ||
            *to - *from >= std::chrono::minutes(minutes(which)) || !used || usedBefore <= 0 ||
            *used < usedBefore ||
            (lastReset != input.lastResets.end() &&
             lastReset->second > input.previous->observedAt) ||
            std::any_of(input.issued.begin(), input.issued.end(), [&](const LimitWarning& w) {
                return w.bucketId == input.bucket && w.reason == WarningReason::resetMoved &&
                       w.window == which && sameReset(w.resetAt, to);
            })) {
            continue;
        }
        LimitWarning warning = make(WarningReason::resetMoved);
        warning.window = which;
        warning.usedPercent = *used;
        warning.remainingPercent = 100 - *used;
        warning.resetAt = to;
        warning.previousResetAt = from;
        owed.push_back(std::move(warning));
    }

    if (blocked) {
        std::optional<BlockedState> before;
        bool ours = true;  // the block before is this account's
        if (input.previous) {
            before = blockedIn(*input.previous);
        } else {
            // No reading before (a new source, a first start): the last blocked state warned of.
            const auto last = std::find_if(
                input.issued.begin(), input.issued.end(), [&](const LimitWarning& warning) {
                    return warning.bucketId == input.bucket && isBlocked(warning.reason);
                });
            if (last != input.issued.end()) {
                before = BlockedState{rawValue(last->reason), last->detail, last->window,
                                      last->resetAt, blocked->earliestReset};
                ours = !input.accountSince || last->observedAt >= *input.accountSince;
            }
        }
        // A block whose end moved is the same block.
        if (ours && before && before->until && blocked->until &&
            before->window == blocked->window && blocked->window &&
            sameOccurrence(before->until, blocked->until, *blocked->window)) {
            before->until = blocked->until;
        }
        if (!before || !blocked->sameOccurrence(*before)) {
            LimitWarning warning = make(*warningReasonFromRaw(blocked->reason));
            warning.window = blocked->window;
            if (blocked->window) {
                const std::optional<RateWindow> window = bucket->window(*blocked->window);
                warning.usedPercent = window->validUsedPercent();
                warning.remainingPercent = window->remainingPercent();
            }
            warning.resetAt = blocked->until;
            warning.detail = blocked->detail;
            owed.push_back(std::move(warning));
        }
    }

    if (codex && input.reading.resetCredits) {
        for (const ResetCredit& credit : input.reading.resetCredits->credits) {
            const std::optional<Date> expiry = credit.expiryDate();
            if (credit.status != "available" || !expiry || *expiry <= input.now ||
                *expiry - input.now > creditNotice ||
                std::any_of(input.issued.begin(), input.issued.end(), [&](const LimitWarning& w) {
                    return w.reason == WarningReason::resetCreditExpiring && w.detail == credit.id;
                })) {
                continue;
            }
            LimitWarning warning = make(WarningReason::resetCreditExpiring);
            warning.detail = credit.id;
            warning.creditExpiresAt = expiry;
            owed.push_back(std::move(warning));
        }
    }

    // A spent credit is settled once it has had its time to reset a window: any reset of the
    // bucket from shortly before it was seen spent says it was applied.
    const bool watchCredits = codex && input.preferences.creditNotApplied;
    for (const CreditUse& use : watchCredits ? input.creditUses : std::span<const CreditUse>()) {
        // A reset that left a little used is one the detector does not record: a share below
        // where it stood before the credit went says so too.
        const bool applied =
            std::any_of(input.lastResets.begin(), input.lastResets.end(),
                        [&](const auto& reset) {
                            return reset.second >= use.seenAt - CreditUse::settleTime;
                        }) ||
            std::any_of(use.used.begin(), use.used.end(), [&](const auto& before) {
                const std::optional<QuotaWindow> which = quotaWindowFromMinutes(before.first);
                const std::optional<RateWindow> now = which ? bucket->window(*which) : std::nullopt;
                const std::optional<double> used = now ? now->validUsedPercent() : std::nullopt;
                return used && *used < before.second - 1;
            });
        if (applied || input.now - use.seenAt < CreditUse::settleTime ||
            std::any_of(input.issued.begin(), input.issued.end(), [&](const LimitWarning& w) {
                return w.reason == WarningReason::creditNotApplied && w.detail == use.id;
            })) {
            continue;
        }
        LimitWarning warning = make(WarningReason::creditNotApplied);
        warning.detail = use.id;
        warning.creditTitle = use.title;
        owed.push_back(std::move(warning));
    }
    return owed;
}

}  // namespace quotalume
