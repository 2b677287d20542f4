#include <quotalume/usage/rate_limits.hpp>

#include <quotalume/support/text.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace quotalume {

using namespace coding;

namespace {

// Codex's words for these members; any other reads as "unknown".
constexpr std::array<std::string_view, 5> reachedTypes = {
    "rate_limit_reached",
    "workspace_owner_credits_depleted",
    "workspace_member_credits_depleted",
    "workspace_owner_usage_limit_reached",
    "workspace_member_usage_limit_reached",
};
constexpr std::array<std::string_view, 3> creditStatuses = {"available", "redeeming", "redeemed"};

// Longer texts than an id, a title or an amount ever is are not taken in, nor control
// characters: they travel on to every view of the engine, which bounds its lines.
constexpr std::size_t longestText = 128;

std::optional<std::string> lenientString(const json& in, const char* key) {
    auto found = in.find(key);
    if (found == in.end() || !found->is_string() ||
        found->get_ref<const std::string&>().size() > longestText ||
        hasControlCharacter(found->get_ref<const std::string&>())) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<bool> lenientBool(const json& in, const char* key) {
    auto found = in.find(key);
    return found != in.end() && found->is_boolean() ? std::optional(found->get<bool>())
                                                    : std::nullopt;
}

std::optional<double> lenientNumber(const json& in, const char* key) {
    auto found = in.find(key);
    if (found == in.end() || !found->is_number() || !std::isfinite(found->get<double>())) {
        return std::nullopt;
    }
    return found->get<double>();
}

template <std::size_t count>
std::optional<std::string> lenientWord(const json& in, const char* key,
                                       const std::array<std::string_view, count>& known) {
    auto found = in.find(key);
    if (found == in.end() || !found->is_string()) {
        return std::nullopt;
    }
    const auto& word = found->get_ref<const std::string&>();
    return std::find(known.begin(), known.end(), word) != known.end() ? word : "unknown";
}

// Only for a finite time above 0 and before 2200 (milliseconds are no date).
std::optional<Date> dateFromUnix(const std::optional<double>& unixSeconds) {
    if (!unixSeconds || !std::isfinite(*unixSeconds) || !(*unixSeconds > 0) ||
        *unixSeconds > latestUnixSeconds) {
        return std::nullopt;
    }
    return dateFromUnixSeconds(*unixSeconds);
}

std::optional<SpendControlLimit> spendControlLimit(const json& in) {
    auto found = in.find("individualLimit");
    if (found == in.end() || !found->is_object()) {
        return std::nullopt;
    }
    return SpendControlLimit{lenientString(*found, "limit"), lenientString(*found, "used"),
                             lenientNumber(*found, "remainingPercent"),
                             lenientNumber(*found, "resetsAt")};
}

}  // namespace

std::optional<Date> SpendControlLimit::resetDate() const {
    return dateFromUnix(resetsAt);
}

std::optional<Date> ResetCredit::expiryDate() const {
    return dateFromUnix(expiresAt);
}

std::optional<ResetCredit> ResetCreditsSummary::nextExpiring() const {
    std::optional<ResetCredit> first;
    for (const ResetCredit& credit : credits) {
        const std::optional<Date> expiry = credit.expiryDate();
        if (credit.status == "available" && expiry && (!first || *expiry < *first->expiryDate())) {
            first = credit;
        }
    }
    return first;
}

std::optional<double> RateWindow::validUsedPercent() const {
    if (!usedPercent || !std::isfinite(*usedPercent)) {
        return std::nullopt;
    }
    return std::clamp(*usedPercent, 0.0, 100.0);
}

std::optional<double> RateWindow::remainingPercent() const {
    auto used = validUsedPercent();
    return used ? std::optional(100.0 - *used) : std::nullopt;
}

std::optional<Date> RateWindow::resetDate() const {
    return dateFromUnix(resetsAt);
}

std::optional<std::int64_t> RateWindow::usableLength() const {
    if (!windowDurationMins || *windowDurationMins <= 0 || *windowDurationMins > longestMinutes) {
        return std::nullopt;
    }
    return windowDurationMins;
}

std::optional<Date> RateWindow::soundResetDate(Date observedAt) const {
    const std::int64_t length = usableLength().value_or(longestMinutes);
    const std::optional<Date> reset = resetDate();
    if (!reset || *reset > observedAt + std::chrono::minutes(length) + std::chrono::hours(24)) {
        return std::nullopt;
    }
    return reset;
}

std::string RateWindow::percentageText() const {
    auto remaining = remainingPercent();
    if (!remaining) {
        return "\u2014";
    }
    if (*remaining > 0 && *remaining < 1) {
        return "<1%";
    }
    return std::to_string(static_cast<int>(std::floor(*remaining))) + "%";
}

std::optional<Decimal> CreditsSnapshot::balanceValue() const {
    return balance ? Decimal::parse(trimmed(*balance)) : std::nullopt;
}

bool CreditsSnapshot::shouldDisplay() const {
    if (unlimited) {
        return true;
    }
    auto value = balanceValue();
    return !(value && value->isZero());
}

std::string RateBucket::id() const {
    return limitId.value_or("codex");
}

std::string RateBucket::title() const {
    std::string bucketID = id();
    if (bucketID == "codex") {
        return "Codex";
    }
    return limitName.value_or(bucketID);
}

std::optional<RateWindow> RateBucket::window(QuotaWindow which) const {
    for (const auto* slot : {&primary, &secondary}) {
        if (*slot && (*slot)->windowDurationMins == minutes(which)) {
            return **slot;
        }
    }
    return std::nullopt;
}

std::vector<QuotaWindow> RateBucket::windows() const {
    std::vector<QuotaWindow> found;
    for (const auto* slot : {&primary, &secondary}) {
        const auto length = *slot ? (*slot)->usableLength() : std::nullopt;
        const auto which = length ? quotaWindowFromMinutes(*length) : std::nullopt;
        if (which && std::find(found.begin(), found.end(), *which) == found.end()) {
            found.push_back(*which);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<RateBucket> RateLimitsResponse::buckets() const {
    if (rateLimitsByLimitId && !rateLimitsByLimitId->empty()) {
        auto codex = rateLimitsByLimitId->find("codex");
        if (codex == rateLimitsByLimitId->end()) {
            return {};
        }
        std::vector<RateBucket> found{codex->second};
        found.front().limitId = "codex";
        for (const auto& [id, bucket] : *rateLimitsByLimitId) {
            if (found.size() == maximumBuckets) {
                break;
            }
            // An id is shown, stored and keyed on: a long or unprintable one is no bucket.
            if (id == "codex" || id.empty() || id.size() > longestBucketId ||
                hasControlCharacter(id)) {
                continue;
            }
            RateBucket other = bucket;
            other.limitId = id;
            found.push_back(std::move(other));
        }
        return found;
    }
    if (rateLimits && rateLimits->id() == "codex") {
        return {*rateLimits};
    }
    return {};
}

void to_json(json& out, const RateWindow& window) {
    out = json::object();
    put(out, "usedPercent", window.usedPercent);
    put(out, "windowDurationMins", window.windowDurationMins);
    put(out, "resetsAt", window.resetsAt);
}

void from_json(const json& in, RateWindow& window) {
    object(in, "window");
    window = RateWindow{optionalDouble(in, "usedPercent"), optionalInt64(in, "windowDurationMins"),
                        optionalDouble(in, "resetsAt")};
}

void to_json(json& out, const CreditsSnapshot& credits) {
    out = {{"hasCredits", credits.hasCredits}, {"unlimited", credits.unlimited}};
    put(out, "balance", credits.balance);
}

void from_json(const json& in, CreditsSnapshot& credits) {
    object(in, "credits");
    std::optional<std::string> balance = optionalString(in, "balance");
    if (balance && balance->size() > CreditsSnapshot::longestBalance) {
        balance.reset();  // no balance is that long: an unknown one, not a line of megabytes
    }
    credits = CreditsSnapshot{asBool(required(in, "hasCredits"), "hasCredits"),
                              asBool(required(in, "unlimited"), "unlimited"), std::move(balance)};
}

void to_json(json& out, const RateBucket& bucket) {
    out = json::object();
    put(out, "limitId", bucket.limitId);
    put(out, "limitName", bucket.limitName);
    put(out, "primary", bucket.primary);
    put(out, "secondary", bucket.secondary);
    put(out, "planType", bucket.planType);
    put(out, "credits", bucket.credits);
    put(out, "rateLimitReachedType", bucket.rateLimitReachedType);
    put(out, "spendControlReached", bucket.spendControlReached);
    put(out, "individualLimit", bucket.individualLimit);
}

void to_json(json& out, const SpendControlLimit& limit) {
    out = json::object();
    put(out, "limit", limit.limit);
    put(out, "used", limit.used);
    put(out, "remainingPercent", limit.remainingPercent);
    put(out, "resetsAt", limit.resetsAt);
}

void to_json(json& out, const ResetCreditsSummary& summary) {
    json credits = json::array();
    for (const ResetCredit& credit : summary.credits) {
        json item = {{"id", credit.id}, {"status", credit.status}};
        put(item, "expiresAt", credit.expiresAt);
        put(item, "title", credit.title);
        credits.push_back(std::move(item));
    }
    out = {{"availableCount", summary.availableCount}, {"credits", std::move(credits)}};
}

std::optional<ResetCreditsSummary> resetCreditsFromJSON(const json& in) {
    auto count = in.is_object() ? in.find("availableCount") : in.end();
    if (count == in.end() || !count->is_number()) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> available = integral(*count);
    ResetCreditsSummary summary{std::max<std::int64_t>(0, available.value_or(0)), {}};
    if (auto list = in.find("credits"); list != in.end() && list->is_array()) {
        for (const json& item : *list) {
            if (summary.credits.size() == ResetCreditsSummary::maximumCredits) {
                break;
            }
            std::optional<std::string> id =
                item.is_object() ? lenientString(item, "id") : std::nullopt;
            if (!id) {
                continue;  // a credit without its id cannot be told apart from another
            }
            summary.credits.push_back(
                {*id, lenientWord(item, "status", creditStatuses).value_or("unknown"),
                 lenientNumber(item, "expiresAt"), lenientString(item, "title")});
        }
    }
    return summary;
}

void from_json(const json& in, RateBucket& bucket) {
    object(in, "bucket");
    // No plan's or limit's name is that long, and every view of every bucket carries them.
    const auto shown = [&](const char* key) {
        std::optional<std::string> text = optionalString(in, key);
        return text && (text->size() > longestText || hasControlCharacter(*text)) ? std::nullopt
                                                                                  : text;
    };
    std::optional<std::string> plan = shown("planType");
    bucket = RateBucket{optionalString(in, "limitId"),
                        shown("limitName"),
                        optionalRecord<RateWindow>(in, "primary"),
                        optionalRecord<RateWindow>(in, "secondary"),
                        std::move(plan),
                        optionalRecord<CreditsSnapshot>(in, "credits"),
                        lenientWord(in, "rateLimitReachedType", reachedTypes),
                        lenientBool(in, "spendControlReached"),
                        spendControlLimit(in)};
}

void to_json(json& out, const RateLimitsResponse& response) {
    out = json::object();
    put(out, "rateLimits", response.rateLimits);
    if (response.rateLimitsByLimitId) {
        json map = json::object();
        for (const auto& [id, bucket] : *response.rateLimitsByLimitId) {
            map[id] = bucket;
        }
        out["rateLimitsByLimitId"] = std::move(map);
    }
    put(out, "accountId", response.accountId);
    put(out, "ordinaryUsageAllowed", response.ordinaryUsageAllowed);
    put(out, "rateLimitResetCredits", response.rateLimitResetCredits);
}

void from_json(const json& in, RateLimitsResponse& response) {
    object(in, "rate limits");
    response = RateLimitsResponse{optionalRecord<RateBucket>(in, "rateLimits"), std::nullopt,
                                  optionalString(in, "accountId"),
                                  lenientBool(in, "ordinaryUsageAllowed"), std::nullopt};
    if (auto credits = in.find("rateLimitResetCredits"); credits != in.end()) {
        response.rateLimitResetCredits = resetCreditsFromJSON(*credits);
    }
    if (const json* map = member(in, "rateLimitsByLimitId")) {
        if (!map->is_object()) {
            fail(Kind::typeMismatch, "rateLimitsByLimitId", "expected an object");
        }
        std::map<std::string, RateBucket> buckets;
        for (const auto& [id, bucket] : map->items()) {
            // A null entry is not a bucket: the whole answer is malformed.
            if (bucket.is_null()) {
                fail(Kind::valueNotFound, "rateLimitsByLimitId." + id, "null bucket");
            }
            buckets.emplace(id, nested<RateBucket>(bucket, "rateLimitsByLimitId." + id));
        }
        response.rateLimitsByLimitId = std::move(buckets);
    }
}

}  // namespace quotalume
