#pragma once

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/localized_message.hpp>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace quotalume {

enum class DateStyle { none, shortStyle, mediumStyle, longStyle, fullStyle };

// Looking up and filling the interface texts. Tables come from
// <resources>/<code>.lproj/Localizable.strings, loaded once; a language whose table is missing
// or malformed falls back key by key to English, and English to the key itself. Placeholders
// are {0}, {1}, …; every operation may be called from any thread.
class L10n {
public:
    using Table = std::map<std::string, std::string, std::less<>>;
    class Tables;

    L10n() = delete;

    static constexpr std::string_view preferenceKey = "appearance.language";

    // The stored choice; absent, unknown or unreadable reads as `system`.
    static AppLanguage preference();
    // The preference resolved against the system's preferred languages.
    static AppLanguage language();
    // ICU locale identifiers for dates and numbers ("en_US", "zh_CN", "fr", …).
    static std::string locale();
    static std::string locale(AppLanguage language);

    // The folder holding the <code>.lproj tables: $QUOTALUME_RESOURCES/l10n when that variable
    // is set, else share/quotalume/l10n beside the executable's folder (the build tree and
    // installs alike), else the one under the install prefix. When none holds tables, English
    // still works from the copy built into the program.
    static const std::filesystem::path& resources();
    // The folder looked in, when it held no table at all (messages then are English only).
    static std::optional<std::filesystem::path> missingResources();
    static const Tables& tables();
    static const Table& table(AppLanguage language);

    // The template of `key` filled with `arguments`, in `language` or the current one. The
    // arguments are strings (numbers are passed as decimal text); an AppLanguage may follow
    // them last: text("quota.reset_hours", "2", "5", AppLanguage::french).
    template <typename... Arguments>
    static std::string text(std::string_view key, Arguments&&... arguments);
    static std::string render(std::string_view key, const std::vector<std::string>& arguments = {},
                              std::optional<AppLanguage> language = std::nullopt);

    // Replaces each {n} (ASCII digits) of `templateText` by arguments[n]. A number that does not
    // fit a 64-bit integer or has no argument stays as written; arguments are inserted as they
    // are and never expanded themselves.
    static std::string substitute(std::string_view templateText,
                                  const std::vector<std::string>& arguments);

    // Formatted with an ICU formatter in the current language's locale and the system time zone
    // of the moment (TZ, else /etc/localtime). Both styles `none` give an empty string.
    static std::string date(std::chrono::system_clock::time_point date, DateStyle dateStyle,
                            DateStyle timeStyle);
    // Drops the formatters `date` keeps for the calling thread, for a window that closed; the
    // next date makes them again.
    static void releaseDateFormatters();

    // "Resets in 2 h 8 min": whole minutes rounded up, then hours, then days; "awaiting
    // reset" once the time has come, "unknown" without one.
    static std::string countdown(std::optional<std::chrono::system_clock::time_point> reset,
                                 std::chrono::system_clock::time_point now);
    // "2h 8m", "3d 4h", "45m": the countdown as narrow as a status bar wants it, rounded the
    // same way; "0m" once the time has come (a bar has no room for a phrase), empty without one.
    static std::string shortCountdown(std::optional<std::chrono::system_clock::time_point> reset,
                                      std::chrono::system_clock::time_point now);

private:
    template <typename T>
    static constexpr bool isLanguage =
        std::is_same_v<std::remove_cvref_t<T>, AppLanguage> ||
        std::is_same_v<std::remove_cvref_t<T>, std::optional<AppLanguage>>;

    template <typename... Arguments>
    static constexpr bool languageComesLast() {
        constexpr std::array<bool, sizeof...(Arguments) + 1> flags = {isLanguage<Arguments>...,
                                                                      false};
        for (std::size_t i = 0; i + 1 < sizeof...(Arguments); ++i) {
            if (flags[i]) {
                return false;
            }
        }
        return true;
    }

    template <typename Argument>
    static void collect(std::vector<std::string>& strings, std::optional<AppLanguage>& language,
                        Argument&& argument) {
        if constexpr (isLanguage<Argument>) {
            language = argument;
        } else {
            static_assert(std::is_constructible_v<std::string, Argument>,
                          "arguments are strings; pass numbers as decimal text");
            strings.emplace_back(std::forward<Argument>(argument));
        }
    }
};

// A set of loaded tables. The process uses one (L10n::tables()); tests build their own from a
// folder of their making.
class L10n::Tables {
public:
    // No tables at all: everything renders English fallbacks, that is, the keys.
    Tables();
    // The tables found in `directory`; `englishFallback`, the text of a strings file, stands in
    // for an English table that is missing there.
    explicit Tables(const std::filesystem::path& directory, std::string_view englishFallback = {});
    ~Tables();
    Tables(const Tables&) = delete;
    Tables& operator=(const Tables&) = delete;

    bool contains(AppLanguage language) const;
    // How many tables were read from files.
    std::size_t filesLoaded() const { return filesLoaded_; }
    // The table of the language (`system` resolved against the system's preferred languages),
    // or an empty table when it was not loaded.
    const Table& table(AppLanguage language) const;
    std::string render(std::string_view key, const std::vector<std::string>& arguments,
                       AppLanguage language) const;

    // A message that an older version stored as rendered Simplified Chinese text, turned back
    // into its key and arguments; text that matches no template becomes the key itself, which
    // renders as the text again.
    LocalizedMessage legacyMessage(std::string text) const;

private:
    struct LegacyPatterns;
    const LegacyPatterns& legacyPatterns() const;

    std::array<std::optional<Table>, allAppLanguages.size()> tables_;
    std::size_t filesLoaded_ = 0;
    mutable std::once_flag legacyOnce_;
    mutable std::unique_ptr<LegacyPatterns> legacyPatterns_;
};

template <typename... Arguments>
std::string L10n::text(std::string_view key, Arguments&&... arguments) {
    static_assert(languageComesLast<Arguments...>(), "the language comes after the arguments");
    std::vector<std::string> strings;
    strings.reserve(sizeof...(Arguments));
    std::optional<AppLanguage> language;
    (collect(strings, language, std::forward<Arguments>(arguments)), ...);
    return render(key, strings, language);
}

}  // namespace quotalume
