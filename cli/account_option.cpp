#include "account_option.hpp"

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/support/text.hpp>

#include <algorithm>
#include <exception>

namespace quotalume::cli {

SavedSources SavedSources::load() {
    SavedSources saved;
    try {
        const std::shared_ptr<PreferencesStore> store = PreferencesStore::standard();
        saved.settings = Settings::load(*store);
        saved.sources = AccountSources::load(*store);
    } catch (const std::exception&) {
        // No home directory: nothing was saved.
    }
    return saved;
}

void SavedSources::check(const std::string& label, bool closest) const {
    if ((closest && asciiLowercased(trimmed(label)) == "closest") || sources.find(label)) {
        return;
    }
    std::string labels = sources.firstLabel;
    for (const AccountSource& other : sources.others) {
        labels += ", " + other.label;
    }
    throw UsageError("--account: no source is labelled '" + label + "'; the labels are " + labels +
                     (closest ? " (or closest)" : ""));
}

AccountOption AccountOption::read(Arguments& arguments) {
    AccountOption option;
    const SavedSources saved = SavedSources::load();
    option.label = saved.sources.firstLabel;
    option.several = saved.sources.several();
    if (auto label = arguments.value("--account")) {
        saved.check(*label, false);
        option.index = *saved.sources.find(*label);
        option.label = std::string(trimmed(*label));
        option.given = true;
    }
    return option;
}

const MonitorState* AccountOption::state(const LoadedState& loaded) const {
    if (index == 0) {
        return &loaded.state;
    }
    const auto found = std::find_if(loaded.accounts.begin(), loaded.accounts.end(),
                                    [&](const AccountState& kept) { return kept.label == label; });
    return found == loaded.accounts.end() ? nullptr : &found->state;
}

}  // namespace quotalume::cli
