#include <quotalume/support/text.hpp>

#include <gtest/gtest.h>

#include <string>

namespace quotalume {
namespace {

TEST(TextTest, EscapedLineShowsStoredTextOnOneUnambiguousLine) {
    const struct {
        const char* name;
        std::string stored;
        std::string shown;
    } rows[] = {
        {"a plain path", "/usr/local/bin/codex", "/usr/local/bin/codex"},
        {"other scripts", "/home/zoë/コード/😀", "/home/zoë/コード/😀"},
        {"a backslash", "C:\\codex\\n", "C:\\\\codex\\\\n"},
        {"a line feed and a tab", "a\nb\tc", "a\\nb\\tc"},
        {"a carriage return", "a\rb", "a\\x0Db"},
        {"a NUL", std::string("a\0b", 3), "a\\x00b"},
        {"the unit separator", "\x1f", "\\x1F"},
        {"a delete", "\x7f", "\\x7F"},
        {"a C1 control", std::string("\xc2\x9b") + "2J", "\\xC2\\x9B2J"},
        {"a no-break space kept", "\xc2\xa0", "\xc2\xa0"},
        {"not UTF-8", "\xff\xfe", "\\xFF\\xFE"},
        {"cut short at the end", "caf\xc3", "caf\\xC3"},
        {"an overlong slash", "\xc0\xaf", "\\xC0\\xAF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(escapedLine(row.stored), row.shown) << row.name;
    }
}

}  // namespace
}  // namespace quotalume
