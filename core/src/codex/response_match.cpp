#include "response_match.hpp"

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/text.hpp>

#include "../support/json_coding.hpp"

#include <utility>

namespace quotalume {
namespace {

using nlohmann::json;
using Action = ResponseMatch::Action;

constexpr std::int64_t methodNotFound = -32601;

// What a line that failed to parse is: with its invalid UTF-8 repaired, our answer (unusable)
// or another message (skipped); a line that opens an object and cannot be read even so may
// have been our answer, and waiting on would only turn it into a timeout; anything else is
// log text.
Action unparsed(std::string_view line, std::int64_t id) {
    if (auto repaired = repairingUTF8(line)) {
        json answer = parseBoundedJSON(*repaired);
        if (!answer.is_discarded()) {
            auto found =
                answer.is_object() && !answer.contains("method") ? answer.find("id") : answer.end();
            return found != answer.end() && coding::integral(*found) == id ? Action::invalid
                                                                           : Action::skip;
        }
    }
    const std::size_t start = line.find_first_not_of(" \t\r");
    return start != std::string_view::npos && line[start] == '{' ? Action::unreadable
                                                                 : Action::skip;
}

}  // namespace

ResponseMatch matchResponse(std::string_view line, std::int64_t requestID) {
    json answer = parseBoundedJSON(line);
    if (answer.is_discarded()) {
        return {unparsed(line, requestID)};
    }
    if (!answer.is_object()) {
        return {};  // log lines and non-object values
    }
    auto id = answer.find("id");
    if (answer.contains("method")) {
        if (id != answer.end()) {
            return {Action::refuse, std::move(*id)};
        }
        return {};  // notifications need no reply
    }
    if (id == answer.end() || coding::integral(*id) != requestID) {
        return {};
    }
    if (auto error = answer.find("error"); error != answer.end() && error->is_object()) {
        auto code = error->find("code");
        auto said = error->find("message");
        return {Action::rpcError,
                said != error->end() && said->is_string() ? std::move(*said) : json(nullptr),
                code != error->end() ? coding::integral(*code).value_or(-1) : -1};
    }
    auto result = answer.find("result");
    if (result == answer.end() || !result->is_object()) {
        return {Action::invalid};
    }
    return {Action::result, std::move(*result)};
}

json refusalReply(const json& id) {
    return {
        {"id", id},
        {"error", {{"code", methodNotFound}, {"message", "This client only reads usage limits."}}}};
}

}  // namespace quotalume
