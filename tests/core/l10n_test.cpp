#include "test_support.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/preferences_store.hpp>
#include <quotalume/quotalume_error.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <set>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdlib.h>
#include <thread>

namespace quotalume {

// Test names show the language code.
void PrintTo(AppLanguage language, std::ostream* out) { *out << rawValue(language); }

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// A folder of <code>.lproj/Localizable.strings tables written by the test.
class TableFolder : public testing::TempDir {
public:
    const TableFolder& with(const std::string& code, std::string_view content) const {
        fs::create_directories(path() / (code + ".lproj"));
        write(code + ".lproj/Localizable.strings", content);
        return *this;
    }
};

// Pins TZ for the test and restores the previous zone afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : variable_("TZ", zone) { ::tzset(); }

private:
    struct Reload {
        ~Reload() { ::tzset(); }  // runs after the variable is restored
    } reload_;
    testing::ScopedEnvironment variable_;
};

// Runs each test on a memory preferences store, so the user's own file is never read or written.
class L10nPreferenceTest : public ::testing::Test {
protected:
    std::shared_ptr<MemoryPreferencesStore> store_ = std::make_shared<MemoryPreferencesStore>();
    ScopedStandardPreferences scoped_{store_};
};

struct SubstitutionCase {
    const char* name;
    std::string templateText;
    std::vector<std::string> arguments;
    std::string expected;
};

void PrintTo(const SubstitutionCase& c, std::ostream* out) { *out << c.name; }

class L10nSubstitution : public ::testing::TestWithParam<SubstitutionCase> {};

TEST_P(L10nSubstitution, FillsOnlyPlaceholdersWithArguments) {
    EXPECT_EQ(L10n::substitute(GetParam().templateText, GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, L10nSubstitution,
    ::testing::Values(
        SubstitutionCase{"RepeatedAndMissing", "{0}-{0}-{1}", {"x"}, "x-x-{1}"},
        SubstitutionCase{"OutOfOrder", "{1} then {0}", {"a", "b"}, "b then a"},
        SubstitutionCase{"UnusedArguments", "none", {"a", "b"}, "none"},
        SubstitutionCase{"LeadingZeros", "{00}{01}", {"a", "b"}, "ab"},
        SubstitutionCase{"Int64Max", "{9223372036854775807}", {"a"}, "{9223372036854775807}"},
        SubstitutionCase{"BeyondInt64", "{9223372036854775808}", {"a"}, "{9223372036854775808}"},
        // 2^64 would wrap around to index 0 in unsigned arithmetic.
        SubstitutionCase{"WrapsToZero", "{18446744073709551616}", {"a"}, "{18446744073709551616}"},
        SubstitutionCase{"HugeNumber",
                         "{99999999999999999999999999}{0}",
                         {"a"},
                         "{99999999999999999999999999}a"},
        SubstitutionCase{"BracesInArgumentsStay", "{0}{1}", {"{1}", "{0}"}, "{1}{0}"},
        SubstitutionCase{"NestedBraces", "{{0}}", {"x"}, "{x}"},
        SubstitutionCase{"NotPlaceholders", "{} {-1} {0 {a} 0}", {"x"}, "{} {-1} {0 {a} 0}"},
        SubstitutionCase{"NonAsciiDigits", "{\xD9\xA3}", {"a", "b", "c", "d"}, "{\xD9\xA3}"},
        SubstitutionCase{
            "ArgumentsVerbatim", "[{0}]", {"$1 \\0 \xE6\x8A\x95"}, "[$1 \\0 \xE6\x8A\x95]"},
        SubstitutionCase{"Empty", "", {"x"}, ""},
        SubstitutionCase{"TrailingBrace", "{0}{", {"x"}, "x{"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(L10nTablesTest, FallsBackToEnglishPerKeyAndThenToTheKey) {
    TableFolder folder;
    folder
        .with("en",
              R"("greeting" = "Hello {0}"; "only.english" = "English only"; "both" = "Both";)")
        .with("fr", R"("greeting" = "Bonjour {0}"; "both" = "Les deux";)")
        .with("de", R"("greeting" = "Hallo {0}")")  // no ';': the whole table is unusable
        .with("ja", "");
    fs::create_directories(folder.path() / "ko.lproj");  // a folder without a table
    L10n::Tables tables(folder.path());

    EXPECT_EQ(tables.render("greeting", {"Ana"}, AppLanguage::french), "Bonjour Ana");
    EXPECT_EQ(tables.render("only.english", {}, AppLanguage::french), "English only");
    EXPECT_EQ(tables.render("unknown.key", {}, AppLanguage::french), "unknown.key");
    EXPECT_EQ(tables.render("greeting", {"Ana"}, AppLanguage::german), "Hello Ana");
    EXPECT_EQ(tables.render("both", {}, AppLanguage::korean), "Both");
    EXPECT_EQ(tables.render("both", {}, AppLanguage::japanese), "Both");
    EXPECT_FALSE(tables.contains(AppLanguage::german));
    EXPECT_FALSE(tables.contains(AppLanguage::korean));
    EXPECT_TRUE(tables.contains(AppLanguage::japanese));
    EXPECT_EQ(tables.table(AppLanguage::french).size(), 2u);
    EXPECT_TRUE(tables.table(AppLanguage::german).empty());

    L10n::Tables none;
    EXPECT_EQ(none.render("status.connected", {}, AppLanguage::french), "status.connected");
}

// Written in Simplified Chinese as older versions stored their messages.
constexpr std::string_view legacyTable = R"(
"error.timeout" = "Codex 没有及时响应。";
"error.rpc" = "Codex 对 {0} 返回错误（代码 {1}）。";
"b.swapped" = "{1} 早于 {0}";
"a.specific" = "剩余 {0}%";
"b.general" = "剩余 {0}";
"c.metacharacters" = "路径 \\E (x) [y]* {0}.";
"d.exact" = "完成";
)";

struct LegacyCase {
    const char* name;
    std::string stored;
    LocalizedMessage expected;
};

void PrintTo(const LegacyCase& c, std::ostream* out) { *out << c.name; }

class L10nLegacyMigration : public ::testing::TestWithParam<LegacyCase> {
protected:
    static void SetUpTestSuite() {
        folder_ = new TableFolder;
        folder_->with("zh-Hans", legacyTable);
        tables_ = new L10n::Tables(folder_->path());
    }
    static void TearDownTestSuite() {
        delete tables_;
        delete folder_;
    }
    static TableFolder* folder_;
    static L10n::Tables* tables_;
};
TableFolder* L10nLegacyMigration::folder_ = nullptr;
L10n::Tables* L10nLegacyMigration::tables_ = nullptr;

TEST_P(L10nLegacyMigration, RecoversKeyAndArguments) {
    EXPECT_EQ(tables_->legacyMessage(GetParam().stored), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StoredTexts, L10nLegacyMigration,
    ::testing::Values(
        LegacyCase{"ExactTemplate", "Codex 没有及时响应。", LocalizedMessage("error.timeout")},
        LegacyCase{"WithPlaceholders", "Codex 对 account/read 返回错误（代码 -32603）。",
                   LocalizedMessage("error.rpc", {"account/read", "-32603"})},
        LegacyCase{"DeliveryFailurePrefix", "投递失败：Codex 没有及时响应。",
                   LocalizedMessage("error.timeout")},
        LegacyCase{"ArgumentsInOrderOfAppearance", "周一 早于 周二",
                   LocalizedMessage("b.swapped", {"周一", "周二"})},
        // Both "a.specific" and "b.general" match; keys are tried in ascending order.
        LegacyCase{"SmallestKeyWins", "剩余 40%", LocalizedMessage("a.specific", {"40"})},
        LegacyCase{"NextTemplateWhenTheFirstFails", "剩余 40",
                   LocalizedMessage("b.general", {"40"})},
        LegacyCase{"MetacharactersAreLiteral", "路径 \\E (x) [y]* /tmp/a.",
                   LocalizedMessage("c.metacharacters", {"/tmp/a"})},
        LegacyCase{"MetacharactersMustMatchExactly", "路径 \\E x y /tmp/a.",
                   LocalizedMessage("路径 \\E x y /tmp/a.")},
        LegacyCase{"NoMatchKeepsEverything", "投递失败：网络错误",
                   LocalizedMessage("投递失败：网络错误")},
        LegacyCase{"PrefixOnly", "投递失败：", LocalizedMessage("投递失败：")},
        LegacyCase{"Empty", "", LocalizedMessage("")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(L10nLegacyMigrationTest, WithoutASimplifiedChineseTableTheTextIsTheKey) {
    TableFolder empty;
    empty.with("zh-Hans", "/* nothing yet */").with("en", R"("k" = "Codex 没有及时响应。";)");
    for (const auto& tables :
         {std::make_unique<L10n::Tables>(empty.path()), std::make_unique<L10n::Tables>()}) {
        EXPECT_EQ(tables->legacyMessage("投递失败：Codex 没有及时响应。"),
                  LocalizedMessage("投递失败：Codex 没有及时响应。"));
    }
}

TEST(L10nTablesTest, ConcurrentFirstUseGivesEveryThreadTheSameAnswers) {
    TableFolder folder;
    folder.with("zh-Hans", legacyTable).with("en", R"("greeting" = "Hello {0}";)");
    L10n::Tables tables(folder.path());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                if (tables.legacyMessage("剩余 7%") != LocalizedMessage("a.specific", {"7"}) ||
                    tables.render("greeting", {"x"}, AppLanguage::chinese) != "Hello x") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(L10nPreferenceTest, StoredAsRawValueAndUnknownReadsAsSystem) {
    EXPECT_EQ(L10n::preference(), AppLanguage::system);
    L10n::setPreference(AppLanguage::portuguese);
    EXPECT_EQ(store_->string("appearance.language"), "pt-BR");
    EXPECT_EQ(L10n::preference(), AppLanguage::portuguese);
    EXPECT_EQ(L10n::language(), AppLanguage::portuguese);
    EXPECT_EQ(L10n::locale(), "pt-BR");
    EXPECT_EQ(L10n::locale(AppLanguage::chinese), "zh_CN");

    for (const char* unknown : {"klingon", "", "PT-BR"}) {
        store_->setString("appearance.language", unknown);
        EXPECT_EQ(L10n::preference(), AppLanguage::system) << unknown;
    }
    store_->setData("appearance.language", {'f', 'r'});
    EXPECT_EQ(L10n::preference(), AppLanguage::system);
}

TEST_F(L10nPreferenceTest, MessagesRenderWithTheProcessTables) {
    L10n::setPreference(AppLanguage::english);
    LocalizedMessage unknown("test.no_entry_anywhere", {"x"});
    EXPECT_EQ(unknown.localized(), "test.no_entry_anywhere");
    EXPECT_EQ(QuotalumeError::webhook(unknown).errorDescription(), "test.no_entry_anywhere");
    EXPECT_EQ(L10n::text("test.no_entry_anywhere {1}", "a", "b", AppLanguage::french),
              "test.no_entry_anywhere b");

    std::string rpc = QuotalumeError::rpc("account/rateLimits/read", -32603).errorDescription();
    EXPECT_THAT(rpc, HasSubstr("account/rateLimits/read"));
    EXPECT_THAT(rpc, HasSubstr("-32603"));
    EXPECT_THAT(rpc, Not(HasSubstr("{")));
}

TEST(L10nProcessTablesTest, StoredChineseTextReadsBackAsItsMessage) {
    if (!L10n::tables().contains(AppLanguage::chinese)) {
        GTEST_SKIP() << "no Simplified Chinese table yet";
    }
    LocalizedMessage rpc("error.rpc", {"account/read", "-32603"});
    std::string stored = L10n::render(rpc.key, rpc.arguments, AppLanguage::chinese);
    EXPECT_EQ(nlohmann::json(stored).get<LocalizedMessage>(), rpc);
    EXPECT_EQ(nlohmann::json("投递失败：" + stored).get<LocalizedMessage>(), rpc);
}

TEST(L10nProcessTablesTest, ComeFromTheBuildTreeBesideTheExecutable) {
    EXPECT_EQ(L10n::resources().filename(), "l10n");
    EXPECT_EQ(L10n::resources().parent_path().filename(), "quotalume");
    EXPECT_TRUE(L10n::tables().contains(AppLanguage::english));
}

TEST(L10nResourcesDeathTest, MissingResourceFolderStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ::setenv("QUOTALUME_RESOURCES", "/nonexistent-quotalume-resources", 1);
            (void)L10n::tables();
        },
        "could not load resource bundle: from /nonexistent-quotalume-resources/l10n");
}

TEST_F(L10nPreferenceTest, DatesFollowTheLanguageAndTheCurrentTimeZone) {
    // 2024-01-02 15:04:05 UTC
    auto date = std::chrono::system_clock::from_time_t(1704207845);
    L10n::setPreference(AppLanguage::german);
    {
        ScopedTimeZone utc("UTC");
        EXPECT_EQ(L10n::date(date, DateStyle::mediumStyle, DateStyle::none), "02.01.2024");
        EXPECT_EQ(L10n::date(date, DateStyle::none, DateStyle::shortStyle), "15:04");
        EXPECT_EQ(L10n::date(date, DateStyle::none, DateStyle::none), "");
    }
    {
        ScopedTimeZone tokyo("Asia/Tokyo");
        EXPECT_EQ(L10n::date(date, DateStyle::mediumStyle, DateStyle::shortStyle),
                  L10n::date(date, DateStyle::mediumStyle, DateStyle::none) + ", 00:04");
        EXPECT_THAT(L10n::date(date, DateStyle::mediumStyle, DateStyle::none), HasSubstr("03.01."));
    }
    L10n::setPreference(AppLanguage::english);
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(L10n::date(date, DateStyle::mediumStyle, DateStyle::none), "Jan 2, 2024");
    EXPECT_THAT(L10n::date(date, DateStyle::fullStyle, DateStyle::shortStyle),
                ::testing::AllOf(HasSubstr("Tuesday"), HasSubstr("3:04")));
}

std::set<std::string> placeholdersOf(std::string_view text) {
    std::set<std::string> found;
    for (std::size_t open = text.find('{'); open != std::string_view::npos;
         open = text.find('{', open + 1)) {
        std::size_t end = open + 1;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            ++end;
        }
        if (end > open + 1 && end < text.size() && text[end] == '}') {
            found.emplace(text.substr(open, end - open + 1));
        }
    }
    return found;
}

const L10n::Tables& sourceTables() {
    static const L10n::Tables tables{fs::path(QUOTALUME_SOURCE_L10N_DIR)};
    return tables;
}

TEST(L10nShippedTablesTest, EnglishHasEveryKeyWithItsPlaceholders) {
    ASSERT_TRUE(sourceTables().contains(AppLanguage::english)) << "no usable English table";
    const auto& english = sourceTables().table(AppLanguage::english);
    std::ifstream inventory(QUOTALUME_TEST_DATA_DIR "/l10n_keys.txt");
    ASSERT_TRUE(inventory) << "no key inventory";
    std::size_t keys = 0;
    for (std::string line; std::getline(inventory, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        std::set<std::string> placeholders{std::istream_iterator<std::string>(fields), {}};
        ++keys;
        auto found = english.find(key);
        if (found == english.end()) {
            ADD_FAILURE() << "missing " << key;
        } else {
            EXPECT_EQ(placeholdersOf(found->second), placeholders) << key;
        }
    }
    EXPECT_EQ(keys, english.size()) << "English has keys the inventory does not list";
}

class L10nShippedTable : public ::testing::TestWithParam<AppLanguage> {};

TEST_P(L10nShippedTable, MatchesEnglishKeyForKeyAndPlaceholderForPlaceholder) {
    ASSERT_TRUE(sourceTables().contains(AppLanguage::english)) << "no usable English table";
    ASSERT_TRUE(sourceTables().contains(GetParam()))
        << rawValue(GetParam()) << ".lproj/Localizable.strings is missing or malformed";
    const auto& english = sourceTables().table(AppLanguage::english);
    const auto& translated = sourceTables().table(GetParam());
    for (const auto& [key, text] : english) {
        auto found = translated.find(key);
        if (found == translated.end()) {
            ADD_FAILURE() << "missing " << key;
        } else {
            EXPECT_EQ(placeholdersOf(found->second), placeholdersOf(text)) << key;
        }
    }
    for (const auto& [key, text] : translated) {
        EXPECT_TRUE(english.contains(key)) << "not in English: " << key;
    }
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
