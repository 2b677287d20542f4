#include "test_support.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace quotalume {

namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

// A folder of <code>.lproj/Localizable.strings tables written by the test.
struct TableFolder : test::TempDir {
    const TableFolder& with(const std::string& code, std::string_view content) const {
        write(code + ".lproj/Localizable.strings", content);
        return *this;
    }
};

TEST(L10nTest, SubstituteFillsOnlyPlaceholdersThatHaveArguments) {
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"{1} {0}{0} {2} {01}", {"a", "b"}, "b aa {2} b"},
        // Beyond int64, and 2^64, which wraps around to index 0 in unsigned arithmetic.
        {"{9223372036854775808}{18446744073709551616}{0}",
         {"a"},
         "{9223372036854775808}{18446744073709551616}a"},
        {"{0}{1}", {"{1}$1\\0", "{0}"}, "{1}$1\\0{0}"},
        {"{} {-1} {0 {a} 0} {{0}} {\xD9\xA3} {", {"x"}, "{} {-1} {0 {a} 0} {x} {\xD9\xA3} {"},
    };
    for (const auto& [templateText, arguments, expected] : cases) {
        EXPECT_EQ(L10n::substitute(templateText, arguments), expected) << templateText;
    }
}

TEST(L10nTest, FallsBackToEnglishPerKeyAndThenToTheKey) {
    TableFolder folder;
    folder.with("en", R"("greeting" = "Hello {0}"; "only.english" = "English only";)")
        .with("fr", R"("greeting" = "Bonjour {0}";)")
        .with("de", R"("greeting" = "Hallo {0}")");  // no ';': the whole table is unusable
    L10n::Tables tables(folder.path());

    EXPECT_EQ(tables.render("greeting", {"Ana"}, AppLanguage::french), "Bonjour Ana");
    EXPECT_EQ(tables.render("only.english", {}, AppLanguage::french), "English only");
    EXPECT_EQ(tables.render("unknown.key", {}, AppLanguage::french), "unknown.key");
    EXPECT_EQ(tables.render("greeting", {"Ana"}, AppLanguage::german), "Hello Ana");
    EXPECT_FALSE(tables.contains(AppLanguage::german));
    // Without a Simplified Chinese table no stored text is recognised, even an English one.
    EXPECT_EQ(tables.legacyMessage("English only"), LocalizedMessage("English only"));
}

// Written in Simplified Chinese as older versions stored their messages.
constexpr std::string_view legacyTable = R"(
"error.timeout" = "Codex 没有及时响应。";
"error.rpc" = "Codex 对 {0} 返回错误（代码 {1}）。";
"b.swapped" = "{1} 早于 {0}";
"a.specific" = "剩余 {0}%";
"b.general" = "剩余 {0}";
"c.metacharacters" = "路径 \\E (x) [y]* {0}.";
)";

TEST(L10nTest, LegacyTextsRecoverTheirKeyAndArgumentsInAnyThread) {
    L10n::Tables tables(TableFolder().with("zh-Hans", legacyTable).path());  // read at once
    const std::pair<std::string, LocalizedMessage> cases[] = {
        {"Codex 没有及时响应。", LocalizedMessage("error.timeout")},
        {"Codex 对 account/read 返回错误（代码 -32603）。",
         LocalizedMessage("error.rpc", {"account/read", "-32603"})},
        {"投递失败：Codex 没有及时响应。", LocalizedMessage("error.timeout")},
        // Arguments come in order of appearance, not by placeholder number.
        {"周一 早于 周二", LocalizedMessage("b.swapped", {"周一", "周二"})},
        // Both "a.specific" and "b.general" match; keys are tried in ascending order.
        {"剩余 40%", LocalizedMessage("a.specific", {"40"})},
        {"路径 \\E (x) [y]* /tmp/a.", LocalizedMessage("c.metacharacters", {"/tmp/a"})},
        {"路径 \\E x y /tmp/a.", LocalizedMessage("路径 \\E x y /tmp/a.")},
        {"投递失败：网络错误", LocalizedMessage("投递失败：网络错误")},
    };
    std::atomic<int> wrong{0};
    std::vector<std::jthread> firstUsers;  // racing to build the patterns
    for (int t = 0; t < 4; ++t) {
        firstUsers.emplace_back([&] {
            for (const auto& [stored, expected] : cases) {
                wrong += tables.legacyMessage(stored) != expected;
            }
        });
    }
    firstUsers.clear();
    for (const auto& [stored, expected] : cases) {
        EXPECT_EQ(tables.legacyMessage(stored), expected) << stored;
    }
    EXPECT_EQ(wrong, 0) << "threads using the tables first saw other answers";
}

TEST(L10nPreferenceTest, DatesFollowTheLanguageAndTheCurrentTimeZone) {
    using enum DateStyle;
    auto date = std::chrono::system_clock::from_time_t(1704207845);  // 2024-01-02 15:04:05 UTC
    test::InterfaceLanguage english;
    {
        test::ScopedEnvironment zone("TZ", "UTC");
        EXPECT_EQ(L10n::date(date, mediumStyle, none), "Jan 2, 2024");
        EXPECT_THAT(L10n::date(date, fullStyle, shortStyle),
                    AllOf(HasSubstr("Tuesday"), HasSubstr("3:04")));
        test::chooseLanguage(AppLanguage::german);
        L10n::releaseDateFormatters();  // as a closed dashboard does: made again when needed
        EXPECT_EQ(L10n::date(date, mediumStyle, shortStyle), "02.01.2024, 15:04");
        EXPECT_EQ(L10n::date(date, none, none), "");
    }
    {
        test::ScopedEnvironment zone("TZ", "Asia/Tokyo");
        EXPECT_EQ(L10n::date(date, mediumStyle, shortStyle), "03.01.2024, 00:04");
    }
    ::tzset();  // ICU loaded the pinned zones into the C library; back to the restored TZ
}

TEST(L10nPreferenceTest, TextStoredInSimplifiedChineseByOlderVersionsReadsBackAsItsMessage) {
    LocalizedMessage rpc("error.rpc", {"account/read", "-32603"});
    std::string stored = L10n::render(rpc.key, rpc.arguments, AppLanguage::chinese);
    EXPECT_EQ(nlohmann::json("投递失败：" + stored).get<LocalizedMessage>(), rpc);
}

using Placeholders = std::map<std::string, std::set<std::string>>;

Placeholders placeholdersOf(const L10n::Table& table) {
    static const std::regex placeholder(R"(\{[0-9]+\})");
    Placeholders out;
    for (const auto& [key, text] : table) {
        out[key] = {std::sregex_token_iterator(text.begin(), text.end(), placeholder), {}};
    }
    return out;
}

// Names each key that one side lacks, and each whose placeholders differ.
void expectSameKeysAndPlaceholders(const Placeholders& expected, const Placeholders& actual) {
    for (const auto& [key, placeholders] : expected) {
        EXPECT_TRUE(actual.contains(key)) << "missing " << key;
        EXPECT_EQ(actual.contains(key) ? actual.at(key) : placeholders, placeholders) << key;
    }
    for (const auto& [key, placeholders] : actual) {
        EXPECT_TRUE(expected.contains(key)) << "not expected: " << key;
    }
}

const L10n::Tables& sourceTables() {
    static const L10n::Tables tables{fs::path(QUOTALUME_SOURCE_L10N_DIR)};
    return tables;
}

TEST(L10nShippedTablesTest, EnglishHasEveryKeyWithItsPlaceholders) {
    ASSERT_TRUE(sourceTables().contains(AppLanguage::english)) << "no usable English table";
    std::ifstream inventory(QUOTALUME_TEST_DATA_DIR "/l10n_keys.txt");
    ASSERT_TRUE(inventory) << "no key inventory";
    Placeholders listed;
    for (std::string line; std::getline(inventory, line);) {
        std::istringstream fields(line);
        std::string key;
        if (fields >> key && key[0] != '#') {
            listed[key] = {std::istream_iterator<std::string>(fields), {}};
        }
    }
    expectSameKeysAndPlaceholders(listed,
                                  placeholdersOf(sourceTables().table(AppLanguage::english)));
}

class L10nShippedTable : public ::testing::TestWithParam<AppLanguage> {};

TEST_P(L10nShippedTable, MatchesEnglishKeyForKeyAndPlaceholderForPlaceholder) {
    ASSERT_TRUE(sourceTables().contains(AppLanguage::english)) << "no usable English table";
    ASSERT_TRUE(sourceTables().contains(GetParam()))
        << rawValue(GetParam()) << ".lproj/Localizable.strings is missing or malformed";
    expectSameKeysAndPlaceholders(placeholdersOf(sourceTables().table(AppLanguage::english)),
                                  placeholdersOf(sourceTables().table(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Languages, L10nShippedTable,
                         ::testing::ValuesIn(allAppLanguages.begin() + 2, allAppLanguages.end()),
                         [](const auto& info) {
                             std::string name(rawValue(info.param));
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
}  // namespace quotalume
