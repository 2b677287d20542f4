#include <quotalume/preferences/settings.hpp>

#include "../support/json_coding.hpp"

#include <quotalume/support/bounded_json.hpp>

#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using nlohmann::json;
using namespace coding;

// The record is six scalars; a larger blob came from something else.
constexpr std::size_t largestSettingsRecord = 1 << 16;

}  // namespace

void to_json(json& out, const Settings& settings) {
    out = {{"refreshInterval", settings.refreshInterval},
           {"notificationsEnabled", settings.notificationsEnabled},
           {"notificationSound", settings.notificationSound},
           {"webhookEnabled", settings.webhookEnabled},
           {"codexPath", settings.codexPath},
           {"codexHome", settings.codexHome}};
}

void from_json(const json& in, Settings& settings) {
    object(in, "settings");
    settings = Settings{
        .refreshInterval = asDouble(required(in, "refreshInterval"), "refreshInterval"),
        .notificationsEnabled =
            asBool(required(in, "notificationsEnabled"), "notificationsEnabled"),
        .notificationSound = asBool(required(in, "notificationSound"), "notificationSound"),
        .webhookEnabled = asBool(required(in, "webhookEnabled"), "webhookEnabled"),
        .codexPath = asString(required(in, "codexPath"), "codexPath"),
        .codexHome = asString(required(in, "codexHome"), "codexHome"),
    };
}

Settings Settings::load(const PreferencesStore& store) {
    auto bytes = store.data(std::string(preferenceKey));
    if (!bytes) {
        return {};
    }
    if (bytes->size() > largestSettingsRecord) {
        return {};
    }
    json document = parseBoundedJSON(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (document.is_discarded()) {
        return {};
    }
    try {
        return document.get<Settings>();
    } catch (const JSONDecodingError&) {
        return {};
    }
}

void Settings::save(PreferencesStore& store) const {
    std::string text;
    try {
        text = json(*this).dump();
    } catch (const json::type_error&) {
        return;
    }
    store.setData(std::string(preferenceKey), PreferencesStore::Bytes(text.begin(), text.end()));
}

}  // namespace quotalume
