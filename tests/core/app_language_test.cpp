#include <quotalume/app_language.hpp>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quotalume {
namespace {

TEST(AppLanguageTest, SystemPicksTheFirstTagThatNamesALanguage) {
    const std::pair<std::vector<std::string>, AppLanguage> cases[] = {
        {{"zh-TW"}, AppLanguage::traditionalChinese},
        {{"zh_HK"}, AppLanguage::traditionalChinese},
        {{"zh-Hans-HK"}, AppLanguage::chinese},
        {{"zh"}, AppLanguage::chinese},
        {{"ZH-Hant-CN"}, AppLanguage::traditionalChinese},
        {{"pt-PT"}, AppLanguage::portuguese},
        {{"xx", "de-AT"}, AppLanguage::german},
        {{"xx"}, AppLanguage::english},
        {{"", "ja"}, AppLanguage::japanese},
        // Neither the script of a code nor "system" names a language; case does not matter.
        {{"hans", "system", "TR"}, AppLanguage::turkish},
    };
    for (const auto& [preferred, expected] : cases) {
        EXPECT_EQ(resolved(AppLanguage::system, preferred), expected)
            << ::testing::PrintToString(preferred);
    }
    EXPECT_EQ(resolved(AppLanguage::french, {"ja", "zh-TW"}), AppLanguage::french);
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
        auto lookup = [&](const char* name) -> const char* {
            auto found = environment.find(name);
            return found != environment.end() ? found->second.c_str() : nullptr;
        };
        EXPECT_EQ(systemPreferredLanguages(lookup), expected)
            << ::testing::PrintToString(environment);
    }
}

TEST(AppLanguageTest, RawValuesRoundTripNothingElseParsesAndWebsitePathsUseThem) {
    std::string codes;
    for (AppLanguage language : allAppLanguages) {
        codes += std::string(rawValue(language)) + " ";
        EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
    }
    EXPECT_EQ(codes, "system en zh-Hans zh-Hant ja ko fr de es pt-BR it nl pl ru tr id vi ");
    for (const char* unknown : {"", "EN", "zh", "pt_BR"}) {
        EXPECT_EQ(appLanguageFromRawValue(unknown), std::nullopt) << unknown;
    }
    EXPECT_EQ(websitePath(AppLanguage::english), "/");
    EXPECT_EQ(websitePath(AppLanguage::chinese), "/zh/");
    EXPECT_EQ(websitePath(AppLanguage::traditionalChinese), "/zh-Hant/");
}

TEST(AppLanguageTest, TagsInAnyCaseAndLocaleNames) {
    const std::pair<const char*, std::optional<AppLanguage>> cases[] = {
        {"de", AppLanguage::german},
        {"DE", AppLanguage::german},
        {"de_DE.UTF-8", AppLanguage::german},
        {"ZH-HANT", AppLanguage::traditionalChinese},
        {"zh_TW", AppLanguage::traditionalChinese},
        {"zh_CN", AppLanguage::chinese},
        {"pt_BR", AppLanguage::portuguese},
        {"PT-br", AppLanguage::portuguese},
        {"sr_RS@latin", std::nullopt},
        {"System", AppLanguage::system},
        {"C", std::nullopt},
        {"", std::nullopt},
        {".UTF-8", std::nullopt},
        {"klingon", std::nullopt},
    };
    for (const auto& [tag, expected] : cases) {
        EXPECT_EQ(appLanguageFromTag(tag), expected) << tag;
    }
}

}  // namespace
}  // namespace quotalume
