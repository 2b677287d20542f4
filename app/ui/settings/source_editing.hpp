#pragma once

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/account_sources.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

class PreferencesModel;
struct Preferences;

// The Source page's changes to the sources, each checked as `config` checks it and stored at
// once, or refused with the reason to show and nothing stored. Positions count the first source
// as 0; it can be renamed but neither removed nor moved.
class SourceEditing {
public:
    using Refusal = std::optional<LocalizedMessage>;

    explicit SourceEditing(PreferencesModel& preferences) : preferences_(preferences) {}

    static bool full(const AccountSources& sources) {
        return sources.others.size() + 1 >= AccountSources::maximum;
    }

    Refusal add(const AccountSource& source);
    Refusal rename(std::size_t position, std::string_view label);
    Refusal remove(std::size_t position);
    // Swaps another source with its neighbour `by` (-1 or 1) places away among the others.
    Refusal move(std::size_t position, int by);
    // A label, "closest", or empty for the first source.
    Refusal showInTray(std::string_view choice);

private:
    // Why `label` cannot name the source at `position` (none for a new one).
    Refusal labelRefusal(std::string_view label, std::optional<std::size_t> position) const;
    Refusal storeOthers(const AccountSources& edited, std::string_view gone,
                        std::string_view renamed);
    // Takes `value` for `key` on a copy of the preferences, so a refusal leaves them as they
    // were. The tray's choice follows a source renamed from `gone`, or falls back to the first
    // when `renamed` is empty.
    Refusal store(std::string_view key, const std::string& value, std::string_view gone,
                  std::string_view renamed);

    PreferencesModel& preferences_;
};

}  // namespace quotalume
