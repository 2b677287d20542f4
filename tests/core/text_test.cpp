#include <quotalume/support/text.hpp>

#include <gtest/gtest.h>

#include <string>

namespace quotalume {
namespace {

struct EscapeCase {
    const char* name;
    std::string stored;
    std::string shown;
};

void PrintTo(const EscapeCase& c, std::ostream* out) {
    *out << c.name;
}

class EscapedLineTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapedLineTest, ShowsStoredTextOnOneUnambiguousLine) {
    EXPECT_EQ(escapedLine(GetParam().stored), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Text, EscapedLineTest,
    ::testing::Values(EscapeCase{"plainPath", "/usr/local/bin/codex", "/usr/local/bin/codex"},
                      EscapeCase{"otherScripts", "/home/zoë/コード/😀", "/home/zoë/コード/😀"},
                      EscapeCase{"backslash", "C:\\codex\\n", "C:\\\\codex\\\\n"},
                      EscapeCase{"lineFeedAndTab", "a\nb\tc", "a\\nb\\tc"},
                      EscapeCase{"carriageReturn", "a\rb", "a\\x0Db"},
                      EscapeCase{"nul", std::string("a\0b", 3), "a\\x00b"},
                      EscapeCase{"unitSeparator", "\x1f", "\\x1F"},
                      EscapeCase{"delete", "\x7f", "\\x7F"},
                      EscapeCase{"c1Control",
                                 "\xc2\x9b"
                                 "2J",
                                 "\\xC2\\x9B2J"},
                      EscapeCase{"noBreakSpaceKept", "\xc2\xa0", "\xc2\xa0"},
                      EscapeCase{"notUTF8", "\xff\xfe", "\\xFF\\xFE"},
                      EscapeCase{"cutShortAtTheEnd", "caf\xc3", "caf\\xC3"},
                      EscapeCase{"overlongSlash", "\xc0\xaf", "\\xC0\\xAF"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quotalume
