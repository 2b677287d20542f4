#include "source_override.hpp"

#include <quotalume/preferences/settings.hpp>

namespace quotalume::cli {
namespace {

const std::string settingsKey(Settings::preferenceKey);

// The stored form of `settings`, made by the same code that stores them for real.
PreferencesStore::Bytes encoded(const Settings& settings) {
    MemoryPreferencesStore memory;
    settings.save(memory);
    return memory.data(settingsKey).value_or(PreferencesStore::Bytes{});
}

}  // namespace

SourceOverride::SourceOverride(std::shared_ptr<PreferencesStore> base, std::string executable)
    : PreferencesOverlay(std::move(base)), executable_(std::move(executable)) {}

std::optional<PreferencesStore::Value> SourceOverride::value(const std::string& key) const {
    if (key == settingsKey) {
        Settings settings = Settings::load(base());
        settings.codexPath = executable_;
        return Value(encoded(settings));
    }
    return PreferencesOverlay::value(key);
}

void SourceOverride::setValue(const std::string& key, std::optional<Value> value) {
    if (key == settingsKey && value) {
        MemoryPreferencesStore written;
        if (auto* bytes = std::get_if<Bytes>(&*value)) {
            written.setData(key, *bytes);
        }
        Settings next = Settings::load(written);
        next.codexPath = Settings::load(base()).codexPath;
        next.save(base());
        return;
    }
    PreferencesOverlay::setValue(key, std::move(value));
}

}  // namespace quotalume::cli
