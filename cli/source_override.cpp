#include "source_override.hpp"

#include <quotalume/settings.hpp>

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

SourceOverride::SourceOverride(std::shared_ptr<PreferencesStore> base,
                               std::optional<std::string> executable,
                               std::optional<std::string> home)
    : base_(std::move(base)), executable_(std::move(executable)), home_(std::move(home)) {}

std::optional<PreferencesStore::Value> SourceOverride::value(const std::string& key) const {
    if (key == settingsKey) {
        Settings settings = Settings::load(*base_);
        settings.codexPath = executable_.value_or(settings.codexPath);
        settings.codexHome = home_.value_or(settings.codexHome);
        return Value(encoded(settings));
    }
    if (auto text = base_->string(key)) {
        return Value(std::move(*text));
    }
    if (auto bytes = base_->data(key)) {
        return Value(std::move(*bytes));
    }
    return std::nullopt;
}

void SourceOverride::setValue(const std::string& key, std::optional<Value> value) {
    if (key == settingsKey && value) {
        MemoryPreferencesStore written;
        if (auto* bytes = std::get_if<Bytes>(&*value)) {
            written.setData(key, *bytes);
        }
        Settings next = Settings::load(written);
        const Settings saved = Settings::load(*base_);
        next.codexPath = saved.codexPath;
        next.codexHome = saved.codexHome;
        next.save(*base_);
        return;
    }
    if (!value) {
        base_->remove(key);
    } else if (auto* text = std::get_if<std::string>(&*value)) {
        base_->setString(key, std::move(*text));
    } else {
        base_->setData(key, std::move(std::get<Bytes>(*value)));
    }
}

}  // namespace quotalume::cli
