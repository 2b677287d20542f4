#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// Strips Unicode white space and line breaks (spaces of every width, tabs, U+0085, U+2028…)
// from both ends of UTF-8 text.
std::string_view trimmed(std::string_view text);

// A–Z lowered; every other byte kept (scheme, host, extension and language-tag comparisons).
std::string asciiLowercased(std::string_view text);

// C0 controls and DEL: text that would be cut short (NUL) or split a header or line.
bool hasControlCharacter(std::string_view text);

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD; nothing when the
// text was valid already.
std::optional<std::string> repairingUTF8(std::string_view text);

// Another program's words made safe to show: valid UTF-8, control characters (C0, DEL, C1)
// and runs of white space turned into single spaces, trimmed, and cut to `limit` characters
// with "…" when longer. Still to be shown as plain text, never as markup.
std::string plainExcerpt(std::string_view text, std::size_t limit);

// Stored text shown as one line that cannot pass for another: a backslash, line feed and tab
// as \\, \n and \t; other control characters (C0, DEL, C1) and bytes that are not UTF-8 as
// \xHH, byte by byte. Text without any of them comes back unchanged.
std::string escapedLine(std::string_view text);

// A word for a POSIX shell: unchanged when it needs no quoting, else in single quotes.
std::string shellQuoted(std::string_view word);

// "~" and "~/…" become the user's home directory; anything else is returned unchanged.
std::string expandingTilde(std::string_view path);

// The current user's home directory: $HOME when absolute, else the password database; empty
// when neither names one. `environment` replaces getenv (for tests).
std::string userHomeDirectory(const std::function<const char*(const char*)>& environment = nullptr);

// The non-empty pieces of `text` between separators.
std::vector<std::string> split(std::string_view text, char separator);

}  // namespace quotalume
