#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

// Thread records as Codex sends them: carried, never interpreted.

struct ThreadReference {
    std::string id;
    std::optional<std::string> model;
    std::int64_t updatedAt = 0;

    friend bool operator==(const ThreadReference&, const ThreadReference&) = default;
};

struct ThreadListResponse {
    std::vector<ThreadReference> data;
};

struct ThreadUsageGroup {
    std::optional<std::string> model;
    std::optional<std::string> reasoningEffort;
    std::optional<std::string> speed;
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> cachedInputTokens;
    std::optional<std::int64_t> netNewInputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::int64_t> totalTokens;
    std::int64_t estimatedUsageCreditsMicros = 0;

    friend bool operator==(const ThreadUsageGroup&, const ThreadUsageGroup&) = default;
};

struct ThreadUsage {
    std::string threadId;
    std::int64_t estimatedUsageCreditsMicros = 0;
    std::optional<std::int64_t> estimatedUsageUsdMicros;
    std::vector<ThreadUsageGroup> groups;

    friend bool operator==(const ThreadUsage&, const ThreadUsage&) = default;
};

struct AccountThreadUsageResponse {
    std::optional<ThreadUsage> threadUsage;
};

void to_json(nlohmann::json& json, const ThreadReference& thread);
void from_json(const nlohmann::json& json, ThreadReference& thread);
void to_json(nlohmann::json& json, const ThreadUsageGroup& group);
void from_json(const nlohmann::json& json, ThreadUsageGroup& group);
void to_json(nlohmann::json& json, const ThreadUsage& usage);
void from_json(const nlohmann::json& json, ThreadUsage& usage);
void from_json(const nlohmann::json& json, ThreadListResponse& response);
void from_json(const nlohmann::json& json, AccountThreadUsageResponse& response);

}  // namespace quotalume
