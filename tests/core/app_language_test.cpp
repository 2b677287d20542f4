#include <quotalume/app_language.hpp>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quotalume {
namespace {

struct ResolutionCase {
    std::vector<std::string> preferred;
    AppLanguage expected;
};

void PrintTo(const ResolutionCase& c, std::ostream* out) {
    for (const auto& tag : c.preferred) {
        *out << "[" << tag << "]";
    }
}

class AppLanguageResolution : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(AppLanguageResolution, PicksTheFirstTagThatNamesALanguage) {
    EXPECT_EQ(resolved(AppLanguage::system, GetParam().preferred), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, AppLanguageResolution,
    ::testing::Values(ResolutionCase{{"zh-TW"}, AppLanguage::traditionalChinese},
                      ResolutionCase{{"zh_HK"}, AppLanguage::traditionalChinese},
                      ResolutionCase{{"zh-MO"}, AppLanguage::traditionalChinese},
                      ResolutionCase{{"zh-Hans-HK"}, AppLanguage::chinese},
                      ResolutionCase{{"zh-Hant-CN"}, AppLanguage::traditionalChinese},
                      ResolutionCase{{"ZH_hans"}, AppLanguage::chinese},
                      ResolutionCase{{"zh"}, AppLanguage::chinese},
                      ResolutionCase{{"pt-PT"}, AppLanguage::portuguese},
                      ResolutionCase{{"pt"}, AppLanguage::portuguese},
                      ResolutionCase{{"en-GB"}, AppLanguage::english},
                      ResolutionCase{{"xx", "de-AT"}, AppLanguage::german},
                      ResolutionCase{{"xx"}, AppLanguage::english},
                      ResolutionCase{{}, AppLanguage::english},
                      ResolutionCase{{"", "ja"}, AppLanguage::japanese},
                      ResolutionCase{{"--_", "ko_KR"}, AppLanguage::korean},
                      // A code with a hyphen never matches the first piece of a tag.
                      ResolutionCase{{"hans", "vi"}, AppLanguage::vietnamese},
                      ResolutionCase{{"system", "id-ID"}, AppLanguage::indonesian},
                      ResolutionCase{{"TR"}, AppLanguage::turkish}));

TEST(AppLanguageTest, ConcreteLanguagesResolveToThemselves) {
    for (AppLanguage language : allAppLanguages) {
        if (language != AppLanguage::system) {
            EXPECT_EQ(resolved(language, {"ja", "zh-TW"}), language);
        }
    }
}

TEST(AppLanguageTest, RawValuesRoundTripAndNothingElseParses) {
    std::vector<std::string> codes;
    for (AppLanguage language : allAppLanguages) {
        codes.emplace_back(rawValue(language));
        EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"system", "en", "zh-Hans", "zh-Hant", "ja", "ko",
                                               "fr", "de", "es", "pt-BR", "it", "nl", "pl", "ru",
                                               "tr", "id", "vi"}));
    for (const char* unknown : {"", "EN", "zh", "pt_BR", "english", "en "}) {
        EXPECT_EQ(appLanguageFromRawValue(unknown), std::nullopt) << unknown;
    }
}

TEST(AppLanguageTest, WebsitePathsAndFormattingLocales) {
    const std::tuple<AppLanguage, const char*, const char*, const char*> expected[] = {
        {AppLanguage::english, "/", "en_US", "English"},
        {AppLanguage::chinese, "/zh/", "zh_CN", "简体中文"},
        {AppLanguage::traditionalChinese, "/zh-Hant/", "zh_TW", "繁體中文"},
        {AppLanguage::japanese, "/ja/", "ja", "日本語"},
        {AppLanguage::portuguese, "/pt-BR/", "pt-BR", "Português (Brasil)"},
        {AppLanguage::vietnamese, "/vi/", "vi", "Tiếng Việt"},
    };
    for (const auto& [language, path, locale, name] : expected) {
        EXPECT_EQ(websitePath(language), path);
        EXPECT_EQ(formattingLocaleIdentifier(language), locale);
        EXPECT_EQ(displayName(language), name);
    }
}

struct EnvironmentCase {
    const char* name;
    std::map<std::string, std::string> environment;
    std::vector<std::string> expected;
};

void PrintTo(const EnvironmentCase& c, std::ostream* out) { *out << c.name; }

class SystemPreferredLanguages : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(SystemPreferredLanguages, FollowTheLocaleVariables) {
    const auto& environment = GetParam().environment;
    auto lookup = [&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found != environment.end() ? found->second.c_str() : nullptr;
    };
    EXPECT_EQ(systemPreferredLanguages(lookup), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, SystemPreferredLanguages,
    ::testing::Values(
        EnvironmentCase{"Nothing", {}, {}},
        EnvironmentCase{"LangOnly", {{"LANG", "de_DE.UTF-8"}}, {"de_DE"}},
        EnvironmentCase{"ModifierStripped", {{"LANG", "de_DE@euro"}}, {"de_DE"}},
        EnvironmentCase{"EncodingAndModifier", {{"LANG", "sr_RS.UTF-8@latin"}}, {"sr_RS"}},
        EnvironmentCase{"LanguageListFirst",
                        {{"LANGUAGE", "pt_BR::fr"}, {"LANG", "en_US.UTF-8"}},
                        {"pt_BR", "fr", "en_US"}},
        EnvironmentCase{"LcAllWinsOverLang",
                        {{"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "ko_KR"}, {"LANG", "fr_FR"}},
                        {"ja_JP"}},
        EnvironmentCase{"EmptyLcAllSkipped",
                        {{"LC_ALL", ""}, {"LC_MESSAGES", "ko_KR"}, {"LANG", "fr_FR"}},
                        {"ko_KR"}},
        EnvironmentCase{"CLocaleNamesNoLanguage", {{"LC_ALL", "C"}, {"LANG", "fr_FR"}}, {}},
        EnvironmentCase{"CUtf8AndPosixIgnored",
                        {{"LANGUAGE", "C.UTF-8:POSIX:it"}, {"LANG", "C.UTF-8"}},
                        {"it"}},
        EnvironmentCase{"OnlyColons", {{"LANGUAGE", "::"}, {"LANG", "nl_NL"}}, {"nl_NL"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppLanguageTest, LocaleVariablesResolveToOurLanguages) {
    std::map<std::string, std::string> environment = {{"LANGUAGE", "zh_TW:en"},
                                                      {"LANG", "C.UTF-8"}};
    auto lookup = [&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found != environment.end() ? found->second.c_str() : nullptr;
    };
    EXPECT_EQ(resolved(AppLanguage::system, systemPreferredLanguages(lookup)),
              AppLanguage::traditionalChinese);
}

}  // namespace
}  // namespace quotalume
