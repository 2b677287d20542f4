#include <quotalume/codex/codex_read_only_policy.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>

namespace quotalume {
namespace {

using nlohmann::json;

TEST(CodexReadOnlyPolicyTest, PermitsExactlyTheAllowList) {
    const std::tuple<const char*, std::optional<json>, bool> cases[] = {
        {"initialize", std::nullopt, true},
        {"initialized", json::object(), true},
        {"account/rateLimits/read", std::nullopt, true},
        // A background poll may leave out the banked resets' details, and ask nothing else.
        {"account/rateLimits/read", json{{"excludeResetCreditDetails", true}}, true},
        {"account/rateLimits/read", json{{"excludeResetCreditDetails", false}}, true},
        {"account/rateLimits/read", json{{"excludeResetCreditDetails", "true"}}, false},
        {"account/rateLimits/read", json{{"supportsLunaReserve", true}}, false},
        {"account/rateLimits/read",
         json{{"excludeResetCreditDetails", true}, {"supportsLunaReserve", true}}, false},
        {"account/rateLimits/read", json::object(), false},
        {"account/usage/read", json{{"threadId", "t"}}, true},
        {"account/read", json{{"refreshToken", false}}, true},
        {"account/read", json{{"refreshToken", true}}, false},
        {"account/read", json{{"refreshToken", "false"}}, false},
        {"account/read", json::object(), false},
        {"account/read", std::nullopt, false},
        // Parameters that are not an object count as none.
        {"account/read", json("x"), false},
        {"thread/list", json{{"useStateDbOnly", true}, {"limit", 5}}, true},
        {"thread/list", json{{"useStateDbOnly", false}}, false},
        {"thread/list", json{{"useStateDbOnly", nullptr}}, false},
        {"thread/list", std::nullopt, false},
        {"Initialize", std::nullopt, false},
        {"account/rateLimits/read ", std::nullopt, false},
        {"turn/start", json::object(), false},
        {"", std::nullopt, false},
    };
    for (const auto& [method, params, permitted] : cases) {
        EXPECT_EQ(CodexReadOnlyPolicy::permits(method, params ? &*params : nullptr), permitted)
            << "'" << method << "' " << (params ? params->dump() : "(no params)");
    }
}

}  // namespace
}  // namespace quotalume
