#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string_view>

namespace quotalume {

// What one line from the child means to the request waiting for answer `requestID`.
struct ResponseMatch {
    enum class Action {
        skip,        // a log line, a notification, another request's answer: read on
        refuse,      // a request from the child: answer `value` (its id) with refusalReply()
        result,      // our answer; `value` is its object-valued result
        rpcError,    // our answer is an error with `code` (-1 when it carries none) and, when it
                     // says one, its message as the string `value`
        invalid,     // our answer, but unusable
        unreadable,  // a line that opens an object but cannot be read (malformed, nested past
                     // the bound, a number no double holds): it may have been our answer
    };

    Action action = Action::skip;
    nlohmann::json value;
    std::int64_t code = -1;
};

ResponseMatch matchResponse(std::string_view line, std::int64_t requestID);

// The answer to a request of the child's: this client only reads.
nlohmann::json refusalReply(const nlohmann::json& id);

}  // namespace quotalume
