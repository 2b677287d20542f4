#include "preferences_model.hpp"

#include <algorithm>
#include <array>
#include <exception>

namespace quotalume {
namespace {

constexpr std::string_view languageKey = "language";

}  // namespace

PreferencesModel::PreferencesModel(PreferencesStore& store, bool stores)
    : store_(store), stores_(stores), current_(Preferences::load(store)) {
    if (!stores_) {
        // The look is the user's even in a demonstration, which shows what the tray would show;
        // nothing else of theirs is read.
        current_ = {
            .style = current_.style, .scope = current_.scope, .language = current_.language};
        return;
    }
    if (auto unreadable = store_.unreadableFile()) {
        warning_ = LocalizedMessage("error.preferences_unreadable", {unreadable->string()});
    }
}

void PreferencesModel::store(const Preferences& values, std::span<const std::string_view> keys) {
    if (!stores_) {
        if (std::ranges::find(keys, languageKey) != keys.end()) {
            values.save(store_, std::array{languageKey});
        }
        return;
    }
    // While a warning stands every value is written, not only the one that changed: the file
    // may hold none of them (unreadable, kept aside on this write) or an older set.
    values.save(store_, warning_ ? storedKeys() : keys);
    warning_.reset();
}

void PreferencesModel::set(std::string_view key, std::string_view value) {
    Preferences next = current_;
    next.set(key, value);
    const std::vector<std::string_view> changed = next.changedKeys(current_);
    if (changed.empty()) {
        return;
    }
    store(next, changed);
    current_ = std::move(next);
    observers_.notify(changed);
}

void PreferencesModel::change(const Preferences& next) {
    const std::vector<std::string_view> changed = next.changedKeys(current_);
    if (changed.empty()) {
        return;  // an unchanged choice writes nothing and tells nobody
    }
    current_ = next;
    try {
        store(current_, changed);
    } catch (const std::exception& error) {
        warning_ = LocalizedMessage::from(error);
    }
    observers_.notify(changed);
}

void PreferencesModel::reload() {
    if (!stores_) {
        return;
    }
    Preferences loaded = Preferences::load(store_);
    const std::vector<std::string_view> changed = loaded.changedKeys(current_);
    if (changed.empty()) {
        return;
    }
    current_ = std::move(loaded);
    observers_.notify(changed);
}

}  // namespace quotalume
