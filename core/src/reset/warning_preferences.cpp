#include <quotalume/reset/limit_warning.hpp>

#include <quotalume/support/text.hpp>

#include "../support/json_coding.hpp"

#include <algorithm>
#include <charconv>

namespace quotalume {

using namespace coding;

WarningPreferences WarningPreferences::load(const PreferencesStore& store) {
    WarningPreferences preferences;
    if (auto text = store.string(levelsKey)) {
        preferences.levels = parseLevels(*text).value_or(preferences.levels);
    }
    for (auto [key, flag] : {std::pair(forecastKey, &preferences.forecast),
                             std::pair(webhookKey, &preferences.webhook),
                             std::pair(resetMovedKey, &preferences.resetMoved),
                             std::pair(creditNotAppliedKey, &preferences.creditNotApplied)}) {
        if (auto text = store.string(key); text == "true" || text == "false") {
            *flag = *text == "true";
        }
    }
    if (auto text = store.string(bucketsKey)) {
        WarningPreferences chosen;
        if (chosen.parseBuckets(*text)) {
            preferences.buckets = std::move(chosen.buckets);
            preferences.allBuckets = chosen.allBuckets;
        }
    }
    return preferences;
}

void WarningPreferences::save(PreferencesStore& store) const {
    store.setString(levelsKey, levelsText());
    store.setString(forecastKey, forecast ? "true" : "false");
    store.setString(webhookKey, webhook ? "true" : "false");
    store.setString(resetMovedKey, resetMoved ? "true" : "false");
    store.setString(creditNotAppliedKey, creditNotApplied ? "true" : "false");
    store.setString(bucketsKey, bucketsText());
}

std::string WarningPreferences::bucketsText() const {
    if (allBuckets) {
        return "all";
    }
    std::string text;
    for (const std::string& id : buckets) {
        text += (text.empty() ? "" : ",") + id;
    }
    return text;
}

bool WarningPreferences::parseBuckets(std::string_view text) {
    std::vector<std::string> ids;
    const std::string_view all = trimmed(text);
    if (asciiLowercased(all) == "all") {
        buckets.clear();
        allBuckets = true;
        return true;
    }
    std::string_view rest = all;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view id = trimmed(rest.substr(0, comma));
        if (id.empty() || id.size() > RateLimitsResponse::longestBucketId ||
            hasControlCharacter(id) || ids.size() >= RateLimitsResponse::maximumBuckets) {
            return false;
        }
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            ids.emplace_back(id);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    buckets = std::move(ids);
    allBuckets = false;
    return true;
}

bool WarningPreferences::lists(std::string_view bucketId) const {
    return allBuckets || std::find(buckets.begin(), buckets.end(), bucketId) != buckets.end();
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

}  // namespace quotalume
