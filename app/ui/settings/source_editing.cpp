#include "settings/source_editing.hpp"

#include "preferences_model.hpp"

#include <quotalume/preferences/config_keys.hpp>
#include <quotalume/support/text.hpp>

#include <utility>

namespace quotalume {

SourceEditing::Refusal SourceEditing::labelRefusal(std::string_view label,
                                                   std::optional<std::size_t> position) const {
    const std::string_view wanted = trimmed(label);
    // The tray's choice stores "closest" for the source closest to running out: a source of
    // that name could never be chosen itself.
    if (asciiLowercased(wanted) == Preferences::closestAccount) {
        return LocalizedMessage("source.label_reserved");
    }
    if (AccountSources::labelProblem(label)) {
        return LocalizedMessage("source.label_refused",
                                {std::to_string(AccountSources::longestLabel)});
    }
    const auto found = preferences_.current().sources.find(wanted);
    if (found && found != position) {
        return LocalizedMessage("source.label_taken", {std::string(wanted)});
    }
    return std::nullopt;
}

SourceEditing::Refusal SourceEditing::add(const AccountSource& source) {
    const AccountSources& sources = preferences_.current().sources;
    if (full(sources)) {
        return LocalizedMessage("source.full", {std::to_string(AccountSources::maximum)});
    }
    if (auto refused = labelRefusal(source.label, std::nullopt)) {
        return refused;
    }
    // The list's JSON would carry a line feed escaped past the check the first source's
    // fields get; a path with one is refused as the first source's would be.
    if (hasControlCharacter(trimmed(source.codexHome))) {
        return LocalizedMessage("error.home");
    }
    if (hasControlCharacter(trimmed(source.codexPath))) {
        return LocalizedMessage("error.executable");
    }
    AccountSources edited = sources;
    edited.others.push_back(
        {std::string(trimmed(source.label)), source.codexHome, source.codexPath});
    return storeOthers(edited, {}, {});
}

SourceEditing::Refusal SourceEditing::rename(std::size_t position, std::string_view label) {
    const AccountSources& sources = preferences_.current().sources;
    if (position > sources.others.size()) {
        return std::nullopt;
    }
    if (auto refused = labelRefusal(label, position)) {
        return refused;
    }
    const std::string renamed(trimmed(label));
    if (position == 0) {
        // The first source is the tray's default under any name.
        return store(AccountSources::labelKey, renamed, sources.firstLabel, {});
    }
    AccountSources edited = sources;
    const std::string gone = std::exchange(edited.others[position - 1].label, renamed);
    return storeOthers(edited, gone, renamed);
}

SourceEditing::Refusal SourceEditing::remove(std::size_t position) {
    const AccountSources& sources = preferences_.current().sources;
    if (position == 0 || position > sources.others.size()) {
        return std::nullopt;
    }
    AccountSources edited = sources;
    const auto removed = edited.others.begin() + static_cast<std::ptrdiff_t>(position - 1);
    const std::string gone = removed->label;
    edited.others.erase(removed);
    return storeOthers(edited, gone, {});
}

SourceEditing::Refusal SourceEditing::move(std::size_t position, int by) {
    const AccountSources& sources = preferences_.current().sources;
    const auto to = static_cast<std::ptrdiff_t>(position) + by;
    if (position == 0 || position > sources.others.size() || (by != -1 && by != 1) || to < 1 ||
        static_cast<std::size_t>(to) > sources.others.size()) {
        return std::nullopt;
    }
    AccountSources edited = sources;
    std::swap(edited.others[position - 1], edited.others[static_cast<std::size_t>(to) - 1]);
    return storeOthers(edited, {}, {});
}

SourceEditing::Refusal SourceEditing::showInTray(std::string_view choice) {
    return store(Preferences::trayAccountKey, std::string(choice), {}, {});
}

SourceEditing::Refusal SourceEditing::storeOthers(const AccountSources& edited,
                                                  std::string_view gone, std::string_view renamed) {
    return store(AccountSources::listKey, edited.othersText(), gone, renamed);
}

SourceEditing::Refusal SourceEditing::store(std::string_view key, const std::string& value,
                                            std::string_view gone, std::string_view renamed) {
    Preferences next = preferences_.current();
    try {
        next.set(key, value);
    } catch (const ConfigError& error) {
        return error.reason().value_or(LocalizedMessage("source.refused", {error.what()}));
    }
    if (!gone.empty() && next.trayAccount == gone) {
        next.trayAccount = std::string(renamed);
    }
    preferences_.change(next);
    return std::nullopt;
}

}  // namespace quotalume
