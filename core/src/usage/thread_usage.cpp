#include <quotalume/usage/thread_usage.hpp>

#include "../support/json_coding.hpp"

namespace quotalume {

using namespace coding;

void to_json(json& out, const ThreadReference& thread) {
    out = {{"id", thread.id}, {"updatedAt", thread.updatedAt}};
    put(out, "model", thread.model);
}

void from_json(const json& in, ThreadReference& thread) {
    object(in, "thread");
    thread = ThreadReference{asString(required(in, "id"), "id"), optionalString(in, "model"),
                             asInt64(required(in, "updatedAt"), "updatedAt")};
}

void to_json(json& out, const ThreadUsageGroup& group) {
    out = {{"estimatedUsageCreditsMicros", group.estimatedUsageCreditsMicros}};
    put(out, "model", group.model);
    put(out, "reasoningEffort", group.reasoningEffort);
    put(out, "speed", group.speed);
    put(out, "inputTokens", group.inputTokens);
    put(out, "cachedInputTokens", group.cachedInputTokens);
    put(out, "netNewInputTokens", group.netNewInputTokens);
    put(out, "outputTokens", group.outputTokens);
    put(out, "totalTokens", group.totalTokens);
}

void from_json(const json& in, ThreadUsageGroup& group) {
    object(in, "group");
    group = ThreadUsageGroup{
        optionalString(in, "model"),
        optionalString(in, "reasoningEffort"),
        optionalString(in, "speed"),
        optionalInt64(in, "inputTokens"),
        optionalInt64(in, "cachedInputTokens"),
        optionalInt64(in, "netNewInputTokens"),
        optionalInt64(in, "outputTokens"),
        optionalInt64(in, "totalTokens"),
        asInt64(required(in, "estimatedUsageCreditsMicros"), "estimatedUsageCreditsMicros")};
}

void to_json(json& out, const ThreadUsage& usage) {
    out = {{"threadId", usage.threadId},
           {"estimatedUsageCreditsMicros", usage.estimatedUsageCreditsMicros},
           {"groups", usage.groups}};
    put(out, "estimatedUsageUsdMicros", usage.estimatedUsageUsdMicros);
}

void from_json(const json& in, ThreadUsage& usage) {
    object(in, "threadUsage");
    usage = ThreadUsage{
        asString(required(in, "threadId"), "threadId"),
        asInt64(required(in, "estimatedUsageCreditsMicros"), "estimatedUsageCreditsMicros"),
        optionalInt64(in, "estimatedUsageUsdMicros"), requiredList<ThreadUsageGroup>(in, "groups")};
}

void from_json(const json& in, ThreadListResponse& response) {
    object(in, "thread list");
    response = ThreadListResponse{requiredList<ThreadReference>(in, "data")};
}

void from_json(const json& in, AccountThreadUsageResponse& response) {
    object(in, "usage");
    response = AccountThreadUsageResponse{};
    if (const json* usage = member(in, "threadUsage")) {
        response.threadUsage = usage->get<ThreadUsage>();
    }
}

}  // namespace quotalume
