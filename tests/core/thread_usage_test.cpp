#include "test_support.hpp"

#include <quotalume/usage/thread_usage.hpp>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using nlohmann::json;

template <typename Record>
std::optional<int> failureCode(const char* text) {
    return test::decodingErrorOf([&] { (void)json::parse(text).get<Record>(); });
}

TEST(ThreadUsageDecodingTest, ThreadListsAndUsageAnswers) {
    auto list =
        json::parse(
            R"({"data":[{"id":"a","updatedAt":5000000000},{"id":"b","model":"m","updatedAt":1}]})")
            .get<ThreadListResponse>();
    EXPECT_EQ(list.data,
              (std::vector<ThreadReference>{{"a", std::nullopt, 5000000000}, {"b", "m", 1}}));
    EXPECT_EQ(failureCode<ThreadListResponse>("{}"), 4865);
    EXPECT_EQ(failureCode<ThreadListResponse>(R"({"data":[{"id":"a","updatedAt":"1"}]})"), 4864);
    EXPECT_EQ(failureCode<ThreadListResponse>(R"({"data":[{"updatedAt":1}]})"), 4865);

    EXPECT_FALSE(json::parse("{}").get<AccountThreadUsageResponse>().threadUsage);
    auto usage =
        json::parse(R"({"threadUsage":{"threadId":"t","estimatedUsageCreditsMicros":9000000000,
        "groups":[{"estimatedUsageCreditsMicros":1},
                  {"model":"m","inputTokens":5000000000,"totalTokens":9223372036854775807,
                   "estimatedUsageCreditsMicros":2}]}})")
            .get<AccountThreadUsageResponse>()
            .threadUsage;
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->estimatedUsageCreditsMicros, 9000000000);
    EXPECT_FALSE(usage->estimatedUsageUsdMicros);
    ASSERT_EQ(usage->groups.size(), 2u);
    EXPECT_EQ(usage->groups[0], ThreadUsageGroup{.estimatedUsageCreditsMicros = 1});
    EXPECT_EQ(usage->groups[1].inputTokens, 5000000000);
    EXPECT_EQ(usage->groups[1].totalTokens, INT64_MAX);
    EXPECT_EQ(json(*usage).get<ThreadUsage>(), *usage);

    const std::string prefix = R"({"threadUsage":{"threadId":"t","estimatedUsageCreditsMicros":1)";
    const std::pair<const char*, int> broken[] = {
        {"}}", 4865},
        {R"(,"groups":[{}]}})", 4865},
        {R"(,"groups":[],"estimatedUsageUsdMicros":9223372036854775808}})", 4864},
    };
    for (const auto& [rest, code] : broken) {
        EXPECT_EQ(failureCode<AccountThreadUsageResponse>((prefix + rest).c_str()), code) << rest;
    }
}

}  // namespace
}  // namespace quotalume
