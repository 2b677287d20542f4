#pragma once

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>
#include <quotalume/usage/usage_forecast.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

enum class WarningReason {
    belowLevel,           // "below_level": what is left fell to a chosen level
    forecastExhausted,    // "forecast_exhausted": at this pace it runs out before it resets
    limitReached,         // "limit_reached": Codex says a limit is reached, or a window is used up
    usageNotAllowed,      // "usage_not_allowed": Codex does not allow ordinary usage
    spendControlReached,  // "spend_control_reached"
    resetCreditExpiring,  // "reset_credit_expiring": a banked reset expires within three days
    resetMoved,           // "reset_moved": a window's reset time moved later, nothing reset
    creditNotApplied,     // "reset_credit_not_applied": a banked reset was spent, nothing reset
};

const char* rawValue(WarningReason reason);
// A limit reached, usage not allowed or a spend control reached: a blocked state's warning.
bool isBlocked(WarningReason reason);
std::optional<WarningReason> warningReasonFromRaw(std::string_view raw);

// One warning before or at the end of a limit. Members that do not apply are absent.
struct LimitWarning {
    std::string id;  // random upper-case UUID; also the webhook event id
    Date observedAt;
    std::string bucketId = "codex";
    std::string bucketName = "Codex";
    WarningReason reason = WarningReason::belowLevel;
    std::optional<QuotaWindow> window;
    std::optional<double> usedPercent;
    std::optional<double> remainingPercent;
    std::optional<Date> resetAt;
    std::optional<std::int64_t> levelPercent;
    std::optional<Date> runsOutAt;
    std::optional<std::string> detail;  // Codex's word: the rateLimitReachedType, a credit's id
    std::optional<Date> creditExpiresAt;
    std::optional<Date> previousResetAt;     // a moved reset's time before
    std::optional<std::string> creditTitle;  // a banked reset's name, as Codex gives it
    // The source's label, while it is announced beside other sources'; never stored.
    std::optional<std::string> accountLabel;

    // Texts in the current interface language; dates as seen at `observedAt`.
    std::string headline() const;  // after the account's label, when it has one
    std::string plainHeadline() const;
    std::string detailText() const;
    // The history's line: the bucket and the headline, with the window's name when it has one.
    std::string title() const;
    // Headline, detail and the window's name on lines of their own, as a reset's message.
    std::string message() const;

    friend bool operator==(const LimitWarning&, const LimitWarning&) = default;
};

// Stored form: dates as seconds since 2001-01-01 UTC; absent members left out.
void to_json(nlohmann::json& json, const LimitWarning& warning);
void from_json(const nlohmann::json& json, LimitWarning& warning);

// What to warn of. Stored under keys of their own beside the settings record; an absent or
// unreadable key reads as its default.
struct WarningPreferences {
    static constexpr std::array<std::int64_t, 4> selectableLevels = {50, 25, 10, 5};
    static constexpr const char* levelsKey = "warnings.levels";
    static constexpr const char* forecastKey = "warnings.forecast";
    static constexpr const char* webhookKey = "webhook.warnings";
    static constexpr const char* resetMovedKey = "warnings.reset_moved";
    static constexpr const char* creditNotAppliedKey = "warnings.credit_not_applied";
    static constexpr const char* bucketsKey = "warnings.buckets";

    std::vector<std::int64_t> levels = {25, 10};  // of what is left, highest first
    bool forecast = true;
    bool webhook = false;  // a receiver set up before warnings existed gets none
    bool resetMoved = true;
    bool creditNotApplied = true;
    // The other buckets whose resets and warnings are announced like the Codex bucket's: the
    // ids listed, or every bucket. The Codex bucket is always announced; listed, every one of
    // its windows is.
    std::vector<std::string> buckets;
    bool allBuckets = false;

    static WarningPreferences load(const PreferencesStore& store);
    // Throws what the store throws.
    void save(PreferencesStore& store) const;
    // "25,10", and back: levels from the selectable ones, in any order, "" or "none" for none;
    // nothing for anything else.
    std::string levelsText() const;
    static std::optional<std::vector<std::int64_t>> parseLevels(std::string_view text);
    // "all", "" (the Codex bucket only) or ids separated by commas, and back; nothing for an
    // id no bucket can have.
    std::string bucketsText() const;
    bool parseBuckets(std::string_view text);
    // Whether the bucket was chosen to be announced (the Codex bucket only when listed).
    bool lists(std::string_view bucketId) const;

    friend bool operator==(const WarningPreferences&, const WarningPreferences&) = default;
};

// A banked reset that left the available ones while their count fell: if none of the bucket's
// windows resets within `settleTime` of it (a reset recorded, or a share below where it stood
// before), it was not applied.
struct CreditUse {
    static constexpr auto settleTime = std::chrono::minutes(10);
    static constexpr std::size_t maximumKept = ResetCreditsSummary::maximumCredits;
    static constexpr std::size_t maximumWindows = 8;
    static constexpr std::size_t longestText = 128;  // an id or title, as Codex's are read

    std::string id;
    std::optional<std::string> title;
    Date seenAt;
    std::map<std::int64_t, double> used = {};  // the Codex windows' shares before, by minutes

    // The credits available `before` that `after` lists no more or as being spent, when the
    // count fell; one that expired is not spent. Nothing otherwise.
    static std::vector<CreditUse> spent(const ResetCreditsSummary& before,
                                        const ResetCreditsSummary& after, Date at);
    friend bool operator==(const CreditUse&, const CreditUse&) = default;
};

// Stored form: seenAt as seconds since 2001-01-01 UTC. Throws JSONDecodingError.
void to_json(nlohmann::json& json, const CreditUse& use);
void from_json(const nlohmann::json& json, CreditUse& use);

// What the warnings of one bucket of one reading are decided from.
struct WarningInput {
    const UsageSnapshot& reading;
    // The bucket warned of: Codex's, whose blocked state is the account's and which alone has
    // forecasts and banked resets, or another, blocked by its own limits only.
    std::string bucket = "codex";
    // The reading before, of the same account: a blocked state it already showed was warned of.
    const UsageSnapshot* previous = nullptr;
    const std::map<QuotaWindow, UsageForecast>& forecasts;
    WarningPreferences preferences;
    std::span<const LimitWarning> issued;  // the warnings kept so far
    // The bucket's windows' latest recorded resets: warnings before one belong to an earlier
    // occurrence.
    std::map<QuotaWindow, Date> lastResets;
    // The bucket's windows' last sound reset times, which still holds for a reading without one:
    // such a reading is the same occurrence, never a new one.
    std::map<QuotaWindow, Date> heldResets;
    Date now;
    // The banked resets seen spent and not yet settled (the Codex bucket's).
    std::span<const CreditUse> creditUses = {};
    // When this account's readings began, if another's came before: a warning of that one
    // belongs to the same occurrence only for the very same reset time.
    std::optional<Date> accountSince = {};
};

// The warnings this reading owes, each once per occurrence: a level or a forecast once per
// window and occurrence (a reset time that moved stays the same occurrence), the lowest level
// crossed standing for the higher ones; a blocked state once from when it begins until it
// clears; an expiring reset credit once; a reset time that moved later once per move; a spent
// credit that reset nothing once. Levels, the forecast, moves and spent credits are the user's
// to choose; blocked states and expiring credits are always warned of.
std::vector<LimitWarning> detectWarnings(const WarningInput& input);

}  // namespace quotalume
