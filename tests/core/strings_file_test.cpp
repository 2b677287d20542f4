#include "l10n/strings_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quotalume {
namespace {

// The text with a byte-order mark, as editors save UTF-16.
std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        char high = static_cast<char>(unit >> 8);
        char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

struct ParseCase {
    const char* name;
    std::string content;
    StringsTable expected;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

class StringsFileParses : public ::testing::TestWithParam<ParseCase> {};

TEST_P(StringsFileParses, ToTheExpectedTable) {
    auto table = parseStringsFile(GetParam().content);
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(*table, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringsFileParses,
    ::testing::Values(
        ParseCase{"Empty", "", {}}, ParseCase{"OnlyComments", "/* a */\n// b\n  /* c\n d */", {}},
        ParseCase{"Plain", "\"a.b\" = \"x y\";\n\"c\"=\"\";", {{"a.b", "x y"}, {"c", ""}}},
        ParseCase{"SpaceAndCommentsAnywhere",
                  " /*1*/ \"k\" /*2*/ =\t// 3\n \"v\" \r\n ; // end",
                  {{"k", "v"}}},
        ParseCase{
            "CommentMarkersInsideStrings", R"("k" = "a // b /* c */";)", {{"k", "a // b /* c */"}}},
        ParseCase{
            "Escapes", R"("k" = "\"q\" \\ \' \/ a\nb\tc\rd";)", {{"k", "\"q\" \\ ' / a\nb\tc\rd"}}},
        ParseCase{"UnicodeEscapes", R"("k" = "\u00e9\U4E2D\uD83D\uDE00";)", {{"k", "é中😀"}}},
        ParseCase{"NulEscape", R"("k" = "a\u0000b";)", {{"k", std::string("a\0b", 3)}}},
        ParseCase{"RawUTF8AndNewlines", "\"k\" = \"投递\n失败\";", {{"k", "投递\n失败"}}},
        ParseCase{
            "Unquoted", "menu_scope.5h = Five-hour_1.0;", {{"menu_scope.5h", "Five-hour_1.0"}}},
        ParseCase{"DuplicateKeyKeepsTheLast", "\"k\" = \"1\"; \"k\" = \"2\";", {{"k", "2"}}},
        ParseCase{"UTF8ByteOrderMark", "\xEF\xBB\xBF\"k\" = \"v\";", {{"k", "v"}}},
        ParseCase{"UTF16LittleEndian", utf16(u"\"k\" = \"中\";", false), {{"k", "中"}}},
        ParseCase{"UTF16BigEndianWithSurrogates", utf16(u"\"k\"=\"😀\";", true), {{"k", "😀"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct MalformedCase {
    const char* name;
    std::string content;
};

void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.name; }

class StringsFileRejects : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(StringsFileRejects, TheWholeTable) {
    EXPECT_EQ(parseStringsFile(GetParam().content), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringsFileRejects,
    ::testing::Values(MalformedCase{"UnterminatedString", "\"k\" = \"v;"},
                      MalformedCase{"UnterminatedKey", "\"k = \"v\";"},
                      MalformedCase{"BackslashAtEnd", "\"k\" = \"v\\"},
                      MalformedCase{"MissingEquals", "\"k\" \"v\";"},
                      MalformedCase{"MissingSemicolon", "\"a\" = \"1\"\n\"b\" = \"2\";"},
                      MalformedCase{"MissingSemicolonAtEnd", "\"a\" = \"1\""},
                      MalformedCase{"MissingValue", "\"a\" = ;"},
                      MalformedCase{"UnknownEscape", R"("k" = "\x41";)"},
                      MalformedCase{"ShortUnicodeEscape", R"("k" = "\u12";)"},
                      MalformedCase{"NonHexUnicodeEscape", R"("k" = "\u12G4";)"},
                      MalformedCase{"LoneHighSurrogate", R"("k" = "\uD83Dx";)"},
                      MalformedCase{"LoneLowSurrogate", R"("k" = "\uDE00";)"},
                      MalformedCase{"HighSurrogateThenNonSurrogate", R"("k" = "\uD83D\u0041";)"},
                      MalformedCase{"UnterminatedComment", "\"k\" = \"v\"; /* open"},
                      MalformedCase{"InvalidUTF8", "\"k\" = \"\xC3\x28\";"},
                      MalformedCase{"OverlongUTF8", "\"k\" = \"\xC0\xAF\";"},
                      MalformedCase{"EncodedSurrogateUTF8", "\"k\" = \"\xED\xA0\x80\";"},
                      MalformedCase{"CharacterOutsideUnquotedSet", "k$ = v;"},
                      MalformedCase{"StrayText", "\"k\" = \"v\"; }"},
                      MalformedCase{"OddLengthUTF16", std::string("\xFF\xFE\"\0k", 5)},
                      MalformedCase{"LoneSurrogateUTF16", utf16(u"\"k\"=\"\xD800\";", true)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quotalume
