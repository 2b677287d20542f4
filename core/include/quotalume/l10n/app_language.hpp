#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// The interface language choices, in picker and table-loading order.
enum class AppLanguage {
    system,
    english,
    chinese,
    traditionalChinese,
    japanese,
    korean,
    french,
    german,
    spanish,
    portuguese,
    italian,
    dutch,
    polish,
    russian,
    turkish,
    indonesian,
    vietnamese,
};

inline constexpr std::array<AppLanguage, 17> allAppLanguages = {
    AppLanguage::system,     AppLanguage::english,
    AppLanguage::chinese,    AppLanguage::traditionalChinese,
    AppLanguage::japanese,   AppLanguage::korean,
    AppLanguage::french,     AppLanguage::german,
    AppLanguage::spanish,    AppLanguage::portuguese,
    AppLanguage::italian,    AppLanguage::dutch,
    AppLanguage::polish,     AppLanguage::russian,
    AppLanguage::turkish,    AppLanguage::indonesian,
    AppLanguage::vietnamese,
};

// "system", "en", "zh-Hans", …, "pt-BR", …: the stored form, the id and the table's code.
std::string_view rawValue(AppLanguage language);
// nullopt for anything that is not exactly a raw value.
std::optional<AppLanguage> appLanguageFromRawValue(std::string_view rawValue);
// A language as people type one: a raw value in any letter case, a language tag or a POSIX
// locale name ("DE", "de_DE.UTF-8", "zh_TW" → zh-Hant, "zh_CN" → zh-Hans, "pt_BR" → pt-BR),
// matched the way the system's preferred languages are. nullopt when it names none of ours.
std::optional<AppLanguage> appLanguageFromTag(std::string_view tag);

// Each language's name for itself; `system` is the text of "language.system" in the current
// interface language.
std::string displayName(AppLanguage language);
// The path of the product web site in the language: "/", "/zh/", "/zh-Hant/", "/ja/", …;
// `system` is resolved against the system's preferred languages first.
std::string websitePath(AppLanguage language);
// The locale for dates and numbers: "en_US", "zh_CN", "zh_TW", else the code itself;
// `system` is resolved against the system's preferred languages first.
std::string_view formattingLocaleIdentifier(AppLanguage language);

// A concrete language for `language` (never `system`): anything else is returned unchanged;
// `system` takes the first preferred language tag that names one of ours, else English.
AppLanguage resolved(AppLanguage language, const std::vector<std::string>& preferredLanguages);

// The user's preferred language tags, most preferred first: the pieces of LANGUAGE, then the
// first non-empty of LC_ALL, LC_MESSAGES and LANG, without encoding (".UTF-8") or modifier
// ("@euro"), leaving out "C" and "POSIX". `environment` looks up a variable (nullptr when
// unset); the default reads the process environment.
std::vector<std::string> systemPreferredLanguages(
    const std::function<const char*(const char*)>& environment = nullptr);

}  // namespace quotalume
