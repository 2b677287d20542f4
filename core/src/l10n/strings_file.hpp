#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Reads a translation table in the property-list strings format:
//
//     /* comment */  "key" = "value";  // comment
//
// Keys and values are quoted strings with the escapes \" \\ \' \/ \n \t \r and \uXXXX (also
// written \UXXXX; surrogate pairs combine), or unquoted runs of [A-Za-z0-9_.-]. The text is
// UTF-8, optionally with a byte-order mark, or UTF-16 with one. A key given twice keeps its
// last value. Anything malformed (an unterminated string or comment, a missing '=' or ';', an
// unknown escape, a lone surrogate, bytes that are not UTF-8) gives nullopt: the whole table
// is unusable rather than silently missing entries.
std::optional<StringsTable> parseStringsFile(std::string_view content);

}  // namespace quotalume
