#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string_view>

namespace quotalume {

// Deepest nesting of arrays and objects accepted from outside (the child's lines, our files,
// receivers' answers). Ours never go past a handful of levels; the bound keeps recursive
// serialisation and decoding shallow and a line of "[[[[…" from costing memory.
inline constexpr std::size_t maximumJSONDepth = 64;

// The document in `text`, or a discarded value (is_discarded()) when it is not JSON or nests
// deeper than `maximumDepth`. Never throws a parse error.
nlohmann::json parseBoundedJSON(std::string_view text, std::size_t maximumDepth = maximumJSONDepth);

}  // namespace quotalume
