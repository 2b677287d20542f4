#include "test_support.hpp"

#include <quotalume/l10n/app_language.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using enum AppLanguage;

TEST(AppLanguageTest, SystemPicksTheFirstTagThatNamesALanguage) {
    const std::pair<std::vector<std::string>, AppLanguage> cases[] = {
        {{"xx", "de-AT"}, german},
        {{"xx"}, english},
        {{"", "ja"}, japanese},
        // Neither the script of a code nor "system" names a language; case does not matter.
        {{"hans", "system", "TR"}, turkish},
    };
    for (const auto& [preferred, expected] : cases) {
        EXPECT_EQ(resolved(system, preferred), expected) << ::testing::PrintToString(preferred);
    }
}

TEST(AppLanguageTest, TagsInAnyCaseAndLocaleNames) {
    const std::pair<const char*, std::optional<AppLanguage>> cases[] = {
        {"de", german},
        {"DE", german},
        {"de_DE.UTF-8", german},
        {"ZH-HANT", traditionalChinese},
        {"zh_TW", traditionalChinese},
        {"zh_HK", traditionalChinese},
        {"zh-Hans-HK", chinese},
        {"zh", chinese},
        {"pt_BR", portuguese},
        {"PT-pt", portuguese},
        {"sr_RS@latin", std::nullopt},
        {"System", system},
        {"C", std::nullopt},
        {"", std::nullopt},
        {".UTF-8", std::nullopt},
        {"klingon", std::nullopt},
    };
    for (const auto& [tag, expected] : cases) {
        EXPECT_EQ(appLanguageFromTag(tag), expected) << tag;
    }
}

TEST(AppLanguageTest, SystemLanguagesFollowTheLocaleVariables) {
    const std::pair<std::map<std::string, std::string>, std::vector<std::string>> cases[] = {
        {{}, {}},
        {{{"LANGUAGE", "pt_BR::C.UTF-8:fr"},
          {"LC_ALL", ""},
          {"LC_MESSAGES", "sr_RS.UTF-8@latin"},
          {"LANG", "en_US"}},
         {"pt_BR", "fr", "sr_RS"}},
        {{{"LC_ALL", "ja_JP.UTF-8"}, {"LC_MESSAGES", "ko_KR"}, {"LANG", "fr_FR"}}, {"ja_JP"}},
        {{{"LANGUAGE", "POSIX:it"}, {"LANG", "de_DE@euro"}}, {"it", "de_DE"}},
        // The C locale names no language, and the variables after it are not consulted.
        {{{"LC_ALL", "C"}, {"LANG", "fr_FR"}}, {}},
    };
    for (const auto& [environment, expected] : cases) {
        EXPECT_EQ(systemPreferredLanguages(test::environmentOf(environment)), expected)
            << ::testing::PrintToString(environment);
    }
}

TEST(AppLanguageTest, RawValuesRoundTripAndNothingElseParses) {
    for (AppLanguage language : allAppLanguages) {
        EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language) << rawValue(language);
    }
    for (const char* unknown : {"", "EN", "zh", "pt_BR"}) {
        EXPECT_EQ(appLanguageFromRawValue(unknown), std::nullopt) << unknown;
    }
}

}  // namespace
}  // namespace quotalume
