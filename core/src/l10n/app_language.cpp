#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/support/text.hpp>

#include <algorithm>
#include <cstdlib>

namespace quotalume {
namespace {

struct LanguageInfo {
    std::string_view code;
    std::string_view name;
    std::string_view locale;
};

// Indexed by AppLanguage.
constexpr LanguageInfo languages[] = {
    {"system", "", ""},
    {"en", "English", "en_US"},
    {"zh-Hans", "简体中文", "zh_CN"},
    {"zh-Hant", "繁體中文", "zh_TW"},
    {"ja", "日本語", "ja"},
    {"ko", "한국어", "ko"},
    {"fr", "Français", "fr"},
    {"de", "Deutsch", "de"},
    {"es", "Español", "es"},
    {"pt-BR", "Português (Brasil)", "pt-BR"},
    {"it", "Italiano", "it"},
    {"nl", "Nederlands", "nl"},
    {"pl", "Polski", "pl"},
    {"ru", "Русский", "ru"},
    {"tr", "Türkçe", "tr"},
    {"id", "Bahasa Indonesia", "id"},
    {"vi", "Tiếng Việt", "vi"},
};
static_assert(std::size(languages) == allAppLanguages.size());

const LanguageInfo& info(AppLanguage language) {
    return languages[static_cast<std::size_t>(language)];
}

AppLanguage resolvedForSystem(AppLanguage language) {
    return resolved(language, language == AppLanguage::system ? systemPreferredLanguages()
                                                              : std::vector<std::string>{});
}

std::optional<AppLanguage> languageForTag(std::string_view tag) {
    std::string normalised = asciiLowercased(tag);
    std::replace(normalised.begin(), normalised.end(), '_', '-');
    auto pieces = split(normalised, '-');
    if (pieces.empty()) {
        return std::nullopt;
    }
    auto has = [&](std::string_view piece) {
        return std::find(pieces.begin(), pieces.end(), piece) != pieces.end();
    };
    if (pieces[0] == "zh") {
        if (has("hant")) {
            return AppLanguage::traditionalChinese;
        }
        if (has("hans")) {
            return AppLanguage::chinese;
        }
        if (has("tw") || has("hk") || has("mo")) {
            return AppLanguage::traditionalChinese;
        }
        return AppLanguage::chinese;
    }
    if (pieces[0] == "pt") {
        return AppLanguage::portuguese;
    }
    for (AppLanguage language : allAppLanguages) {
        if (language != AppLanguage::system && asciiLowercased(info(language).code) == pieces[0]) {
            return language;
        }
    }
    return std::nullopt;
}

// "de_AT.UTF-8@euro" → "de_AT"; the C locale names no language.
std::optional<std::string> localeLanguageTag(std::string_view value) {
    std::string_view tag = value.substr(0, value.find_first_of(".@"));
    if (tag.empty() || tag == "C" || tag == "POSIX") {
        return std::nullopt;
    }
    return std::string(tag);
}

}  // namespace

std::string_view rawValue(AppLanguage language) {
    return info(language).code;
}

std::optional<AppLanguage> appLanguageFromRawValue(std::string_view rawValue) {
    for (AppLanguage language : allAppLanguages) {
        if (info(language).code == rawValue) {
            return language;
        }
    }
    return std::nullopt;
}

std::optional<AppLanguage> appLanguageFromTag(std::string_view tag) {
    if (asciiLowercased(tag) == "system") {
        return AppLanguage::system;
    }
    auto language = localeLanguageTag(tag);
    return language ? languageForTag(*language) : std::nullopt;
}

std::string displayName(AppLanguage language) {
    if (language == AppLanguage::system) {
        return L10n::text("language.system");
    }
    return std::string(info(language).name);
}

std::string websitePath(AppLanguage language) {
    switch (AppLanguage concrete = resolvedForSystem(language)) {
        case AppLanguage::english:
            return "/";
        case AppLanguage::chinese:
            return "/zh/";
        default:
            return "/" + std::string(info(concrete).code) + "/";
    }
}

std::string_view formattingLocaleIdentifier(AppLanguage language) {
    return info(resolvedForSystem(language)).locale;
}

AppLanguage resolved(AppLanguage language, const std::vector<std::string>& preferredLanguages) {
    if (language != AppLanguage::system) {
        return language;
    }
    for (const auto& tag : preferredLanguages) {
        if (auto match = languageForTag(tag)) {
            return *match;
        }
    }
    return AppLanguage::english;
}

std::vector<std::string> systemPreferredLanguages(
    const std::function<const char*(const char*)>& environment) {
    auto lookup = [&](const char* name) -> std::string_view {
        const char* value = environment ? environment(name) : std::getenv(name);
        return value != nullptr ? value : "";
    };
    std::vector<std::string> tags;
    for (const auto& piece : split(lookup("LANGUAGE"), ':')) {
        if (auto tag = localeLanguageTag(piece)) {
            tags.push_back(std::move(*tag));
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (auto value = lookup(name); !value.empty()) {
            if (auto tag = localeLanguageTag(value)) {
                tags.push_back(std::move(*tag));
            }
            break;
        }
    }
    return tags;
}

}  // namespace quotalume
