#pragma once

#include <quotalume/preferences/preferences_store.hpp>

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>

namespace quotalume {

// The user's monitoring preferences, stored as one JSON object under the preferences key
// "settings". The tray app edits them; the command-line companion reads the Codex source.
struct Settings {
    double refreshInterval = 30;  // seconds; any value loads as stored
    bool notificationsEnabled = true;
    bool notificationSound = true;
    bool webhookEnabled = false;
    std::string codexPath;  // empty: find the executable automatically
    std::string codexHome;  // empty: $CODEX_HOME, else ~/.codex

    static constexpr std::string_view preferenceKey = "settings";

    // The stored record, or the defaults when there is none or it does not decode: a missing
    // key or a wrong type anywhere discards the whole record, never one field. Unknown keys
    // are ignored. Nothing is reported and the stored data is left as it is.
    static Settings load(const PreferencesStore& store);
    // Writes the compact JSON object; a record whose text is not UTF-8 is not stored. Throws
    // what the store throws when it cannot write.
    void save(PreferencesStore& store) const;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// All six keys are required; throws JSONDecodingError.
void to_json(nlohmann::json& json, const Settings& settings);
void from_json(const nlohmann::json& json, Settings& settings);

}  // namespace quotalume
