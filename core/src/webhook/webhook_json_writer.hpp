#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

namespace quotalume {

// Writes compact JSON byte for byte the way webhook receivers are promised it, which
// nlohmann's dump does not: object members in ascending key order at every level (the
// json tree keeps them sorted), integers as integers, floating-point values in the shortest
// form that reads back exactly and without ".0" when integral (85, 97.5), non-ASCII text as
// UTF-8, and "/" written as "\/" only when asked for.
//
// Throws std::system_error: EILSEQ for text that is not UTF-8, EDOM for NaN or infinity.
enum class SlashEscaping { none, backslash };
std::string writeWebhookJSON(const nlohmann::json& value, SlashEscaping slashes);

}  // namespace quotalume
