#include <quotalume/codex_read_only_policy.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>

namespace quotalume {
namespace {

using nlohmann::json;

struct PolicyCase {
    const char* method;
    std::optional<json> params;
    bool permitted;
};

void PrintTo(const PolicyCase& c, std::ostream* out) {
    *out << c.method << " " << (c.params ? c.params->dump() : "(no params)");
}

class CodexReadOnlyPolicyTest : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(CodexReadOnlyPolicyTest, DecidesExactly) {
    const auto& c = GetParam();
    EXPECT_EQ(CodexReadOnlyPolicy::permits(c.method, c.params ? &*c.params : nullptr), c.permitted);
}

INSTANTIATE_TEST_SUITE_P(
    AllowList, CodexReadOnlyPolicyTest,
    ::testing::Values(PolicyCase{"initialize", std::nullopt, true},
                      PolicyCase{"initialized", json::object(), true},
                      PolicyCase{"account/rateLimits/read", std::nullopt, true},
                      PolicyCase{"account/usage/read", json{{"threadId", "t"}}, true},
                      PolicyCase{"account/read", json{{"refreshToken", false}}, true},
                      PolicyCase{"account/read", json{{"refreshToken", true}}, false},
                      PolicyCase{"account/read", json{{"refreshToken", "false"}}, false},
                      PolicyCase{"account/read", json::object(), false},
                      PolicyCase{"account/read", std::nullopt, false},
                      // Parameters that are not an object count as none.
                      PolicyCase{"account/read", json("x"), false},
                      PolicyCase{"thread/list", json{{"useStateDbOnly", true}, {"limit", 5}}, true},
                      PolicyCase{"thread/list", json{{"useStateDbOnly", false}}, false},
                      PolicyCase{"thread/list", json{{"useStateDbOnly", nullptr}}, false},
                      PolicyCase{"thread/list", std::nullopt, false},
                      PolicyCase{"Initialize", std::nullopt, false},
                      PolicyCase{"account/rateLimits/read ", std::nullopt, false},
                      PolicyCase{"turn/start", json::object(), false},
                      PolicyCase{"", std::nullopt, false}));

}  // namespace
}  // namespace quotalume
