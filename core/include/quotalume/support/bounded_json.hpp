#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace quotalume {

// Deepest nesting of arrays and objects accepted from outside (the child's lines, our files,
// receivers' answers). Ours never go past a handful of levels; the bound keeps recursive
// serialisation and decoding shallow and a line of "[[[[…" from costing memory.
inline constexpr std::size_t maximumJSONDepth = 64;
// Most containers and separators in one document: ours hold a few thousand values (the state
// file's 100 records), and this keeps a hostile line's parsed form within a few megabytes.
inline constexpr std::size_t maximumJSONValues = 100'000;

// The document in `text`, or a discarded value (is_discarded()) when it is not JSON, nests
// deeper than `maximumDepth` or holds more than `maximumValues` values. Never throws a parse
// error.
nlohmann::json parseBoundedJSON(std::string_view text, std::size_t maximumDepth = maximumJSONDepth,
                                std::size_t maximumValues = maximumJSONValues);

// The compact text of `value`. Strings that are not UTF-8 (a path in another encoding, in a
// message) are written with replacement characters rather than thrown on.
inline std::string jsonText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quotalume
