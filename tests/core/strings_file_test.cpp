#include "l10n/strings_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quotalume {
namespace {

using namespace std::string_literals;

// The text with a byte-order mark, as editors save UTF-16.
std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(StringsFileTest, ParsesEscapesCommentsAndUnquotedForms) {
    const std::pair<std::string, StringsTable> cases[] = {
        {"/* a */\n// b\n  /* c\n d */", {}},
        {" /*1*/ \"a.b\" /*2*/ =\t// 3\n \"x // y /* z */\" \r\n ; // end\n\"e\"=\"\";",
         {{"a.b", "x // y /* z */"}, {"e", ""}}},
        {R"("k" = "\"q\" \\ \' \/ a\nb\tc\rd \u00e9\U4E2D\uD83D\uDE00 \u0000";)",
         {{"k", "\"q\" \\ ' / a\nb\tc\rd é中😀 \0"s}}},
        // A key given twice keeps its last value.
        {"menu_scope.5h = Five-hour_1.0; \"k\" = \"1\"; \"k\" = \"投递\n失败\";",
         {{"menu_scope.5h", "Five-hour_1.0"}, {"k", "投递\n失败"}}},
        {"\xEF\xBB\xBF\"k\" = \"v\";", {{"k", "v"}}},
        {utf16(u"\"k\" = \"中\";", false), {{"k", "中"}}},
        {utf16(u"\"k\"=\"😀\";", true), {{"k", "😀"}}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(parseStringsFile(content), expected) << ::testing::PrintToString(content);
    }
}

TEST(StringsFileTest, RejectsTheWholeTableWhenAnythingIsMalformed) {
    const std::string cases[] = {
        "\"k\" = \"v;", "\"k\" = \"v\\", "\"k\" \"v\";", "\"a\" = \"1\"\n\"b\" = \"2\";",
        "\"a\" = \"1\"", "\"a\" = ;", "k$ = v;", "\"k\" = \"v\"; }", "\"k\" = \"v\"; /* open",
        // Escapes: unknown, not hex, lone high and low surrogates, high then no low.
        R"("k" = "\x41";)", R"("k" = "\u12G4";)", R"("k" = "\uD83Dx";)", R"("k" = "\uDE00";)",
        R"("k" = "\uD83D\u0041";)",
        // Not UTF-8: a bad continuation, an overlong form, an encoded surrogate.
        "\"k\" = \"\xC3\x28\";", "\"k\" = \"\xC0\xAF\";", "\"k\" = \"\xED\xA0\x80\";",
        // UTF-16 of odd length, with a lone surrogate.
        "\xFF\xFE\"\0k"s, utf16(u"\"k\"=\"\xD800\";", true)};
    for (const auto& content : cases) {
        EXPECT_EQ(parseStringsFile(content), std::nullopt) << ::testing::PrintToString(content);
    }
}

}  // namespace
}  // namespace quotalume
