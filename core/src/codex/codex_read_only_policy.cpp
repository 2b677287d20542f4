#include <quotalume/codex/codex_read_only_policy.hpp>

#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

bool hasFlag(const nlohmann::json* params, const char* name, bool expected) {
    if (params == nullptr || !params->is_object()) {
        return false;
    }
    auto member = params->find(name);
    return member != params->end() && member->is_boolean() && member->get<bool>() == expected;
}

}  // namespace

bool CodexReadOnlyPolicy::permits(std::string_view method, const nlohmann::json* params) {
    if (method == "initialize" || method == "initialized" || method == "account/usage/read") {
        return true;
    }
    if (method == "account/rateLimits/read") {
        // A background poll may skip the banked resets' details; nothing else may be asked for.
        return params == nullptr ||
               (params->size() == 1 && params->contains("excludeResetCreditDetails") &&
                params->at("excludeResetCreditDetails").is_boolean());
    }
    if (method == "account/read") {
        return hasFlag(params, "refreshToken", false);
    }
    if (method == "thread/list") {
        return hasFlag(params, "useStateDbOnly", true);
    }
    return false;
}

}  // namespace quotalume
