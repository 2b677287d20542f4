#include <quotalume/reset/limit_warning.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/text.hpp>
#include <quotalume/support/uuid.hpp>
#include <quotalume/usage/limit_state.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quotalume {

using namespace coding;

namespace {

constexpr std::array<std::pair<WarningReason, std::string_view>, 6> reasons = {{
    {WarningReason::belowLevel, "below_level"},
    {WarningReason::forecastExhausted, "forecast_exhausted"},
    {WarningReason::limitReached, "limit_reached"},
    {WarningReason::usageNotAllowed, "usage_not_allowed"},
    {WarningReason::spendControlReached, "spend_control_reached"},
    {WarningReason::resetCreditExpiring, "reset_credit_expiring"},
}};

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
        window ? L10n::render("warning.title", {quotalume::title(*window), headline()})
               : headline();
    // Another bucket's is named: the same window of Codex's may be anywhere else.
    return bucketId == "codex" ? text : L10n::render("limits.bucket_line", {bucketName, text});
}

std::string LimitWarning::message() const {
    std::string text = headline() + "\n" + detailText();
    if (window) {
        text += "\n" + quotalume::title(*window);
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
    for (const auto& [key, date] :
         {std::pair("resetAt", &warning.resetAt), std::pair("runsOutAt", &warning.runsOutAt),
          std::pair("creditExpiresAt", &warning.creditExpiresAt)}) {
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
                           optional(in, "creditExpiresAt", asReferenceDate)};
}

// ---- Preferences

WarningPreferences WarningPreferences::load(const PreferencesStore& store) {
    WarningPreferences preferences;
    if (auto text = store.string(levelsKey)) {
        preferences.levels = parseLevels(*text).value_or(preferences.levels);
    }
    for (auto [key, flag] : {std::pair(forecastKey, &preferences.forecast),
                             std::pair(webhookKey, &preferences.webhook)}) {
        if (auto text = store.string(key); text == "true" || text == "false") {
            *flag = *text == "true";
        }
    }
    return preferences;
}

void WarningPreferences::save(PreferencesStore& store) const {
    store.setString(levelsKey, levelsText());
    store.setString(forecastKey, forecast ? "true" : "false");
    store.setString(webhookKey, webhook ? "true" : "false");
}

std::string WarningPreferences::levelsText() const {
    std::string text;
    for (std::int64_t level : levels) {
        text += (text.empty() ? "" : ",") + std::to_string(level);
    }
    return text;
}

std::optional<std::vector<std::int64_t>> WarningPreferences::parseLevels(std::string_view text) {
    std::vector<std::int64_t> levels;
    const std::string all = asciiLowercased(trimmed(text));
    if (all.empty() || all == "none") {
        return levels;
    }
    std::string_view rest = all;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = trimmed(rest.substr(0, comma));
        std::int64_t level = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), level);
        if (error != std::errc() || end != part.data() + part.size() ||
            std::find(selectableLevels.begin(), selectableLevels.end(), level) ==
                selectableLevels.end()) {
            return std::nullopt;
        }
        if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
            levels.push_back(level);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    std::sort(levels.rbegin(), levels.rend());
    return levels;
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
    // Warnings of this occurrence of the window: after its latest reset, with its reset time.
    auto issuedFor = [&](QuotaWindow which, WarningReason reason,
                         const std::optional<Date>& reset) {
        std::vector<const LimitWarning*> found;
        const auto lastReset = input.lastResets.find(which);
        for (const LimitWarning& warning : input.issued) {
            if (warning.bucketId == input.bucket && warning.reason == reason &&
                warning.window == which && sameReset(warning.resetAt, reset) &&
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

    if (blocked) {
        std::optional<BlockedState> before;
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
            }
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
    return owed;
}

}  // namespace quotalume
