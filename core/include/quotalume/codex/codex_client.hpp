#pragma once

#include <quotalume/codex/codex_configuration.hpp>
#include <quotalume/usage/thread_usage.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <optional>
#include <string_view>
#include <vector>

namespace quotalume {

// The one way to ask Codex anything. Each call starts its own app-server child, greets it,
// checks the account is a signed-in "chatgpt" one, asks one read-only question and closes the
// child on every path. Blocking: callers that must not block run it on a worker.
class CodexClient {
public:
    UsageSnapshot fetch(const CodexConfiguration& configuration) const;
    std::vector<ThreadReference> recentThreads(long long limit,
                                               const CodexConfiguration& configuration) const;
    // Absent when Codex knows no usage for the thread. A blank id fails before any child starts.
    std::optional<ThreadUsage> threadUsage(std::string_view threadID,
                                           const CodexConfiguration& configuration) const;
};

}  // namespace quotalume
