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
    // What a read of the limits asks for: everything, or all but the banked resets' details
    // (their count still comes), which spares Codex one request to its servers.
    enum class Depth { full, light };

    // A light read that Codex refuses as invalid params is made again in full: the snapshot's
    // `creditDetails` then says so.
    UsageSnapshot fetch(const CodexConfiguration& configuration, Depth depth = Depth::full) const;
    std::vector<ThreadReference> recentThreads(long long limit,
                                               const CodexConfiguration& configuration) const;
    // Absent when Codex knows no usage for the thread. A blank id fails before any child starts.
    std::optional<ThreadUsage> threadUsage(std::string_view threadID,
                                           const CodexConfiguration& configuration) const;
};

}  // namespace quotalume
