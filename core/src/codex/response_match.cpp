#include "response_match.hpp"

#include <quotalume/bounded_json.hpp>
#include <quotalume/text.hpp>

#include "../support/json_coding.hpp"

#include <utility>

namespace quotalume {
namespace {

using nlohmann::json;
using Action = ResponseMatch::Action;

constexpr std::int64_t methodNotFound = -32601;

// Whether a line that failed to parse would, with its invalid UTF-8 repaired, be the answer
// to request `id`.
bool answersRequest(std::string_view line, std::int64_t id) {
    auto repaired = repairingUTF8(line);
    if (!repaired) {
        return false;
    }
    json answer = parseBoundedJSON(*repaired);
    if (!answer.is_object() || answer.contains("method")) {
        return false;
    }
    auto found = answer.find("id");
    return found != answer.end() && coding::integral(*found) == id;
}

}  // namespace

ResponseMatch matchResponse(std::string_view line, std::int64_t requestID) {
    json answer = parseBoundedJSON(line);
    if (answer.is_discarded()) {
        // Our answer with bytes that are not UTF-8 has still arrived: waiting on would only
        // turn a broken answer into a timeout.
        return {answersRequest(line, requestID) ? Action::invalid : Action::skip};
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
