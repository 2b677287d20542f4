#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// The whole allow-list of what may be said to Codex: only questions that read, never a
// method that could change the account, refresh credentials or touch threads. The limits are
// read with no params, or with the one that skips the banked resets' details.
struct CodexReadOnlyPolicy {
    // `params` is the message's "params" object, or null when absent or not an object.
    static bool permits(std::string_view method, const nlohmann::json* params);
};

}  // namespace quotalume
