#pragma once

#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/preferences/settings.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// Where one account's limits are read: a Codex home, and optionally a Codex executable, under a
// label the user chose.
struct AccountSource {
    std::string label;
    std::string codexHome;  // empty: $CODEX_HOME, else ~/.codex
    std::string codexPath;  // empty: found automatically

    friend bool operator==(const AccountSource&, const AccountSource&) = default;
};

// The sources watched. The first is the settings record's executable and home, named by
// "source.label" ("Default" until renamed, never translated); the others are a JSON list under
// "sources", so a build that knows only one source still reads the first.
struct AccountSources {
    static constexpr std::string_view defaultLabel = "Default";
    static constexpr std::size_t maximum = 8;  // in all, the first included
    static constexpr std::size_t longestLabel = 40;
    static constexpr std::string_view labelKey = "source.label";
    static constexpr std::string_view listKey = "sources";

    std::string firstLabel = std::string(defaultLabel);
    std::vector<AccountSource> others;
    // A stored list this version cannot read (a later version's, say): kept as it is until
    // sources are saved here.
    std::optional<std::string> unreadList;

    static AccountSources load(const PreferencesStore& store);
    void save(PreferencesStore& store) const;

    bool several() const { return !others.empty(); }
    // Every source, the first from `settings`.
    std::vector<AccountSource> all(const Settings& settings) const;
    // The position of the source with this label in all(); nothing for an unknown one.
    std::optional<std::size_t> find(std::string_view label) const;

    // Why a label cannot be used (English), or nothing: 1 to 40 characters of UTF-8 without
    // control characters, white space around it trimmed.
    static std::optional<std::string> labelProblem(std::string_view label);
    // The others as stored: [{"label":…,"codexHome":…,"codexPath":…}, …].
    std::string othersText() const;
    // The stored list, or nothing when it is not one: bad JSON, a label refused or given twice
    // (the first source's included), more than `maximum` sources in all.
    std::optional<std::vector<AccountSource>> parseOthers(std::string_view text) const;

    friend bool operator==(const AccountSources&, const AccountSources&) = default;
};

}  // namespace quotalume
