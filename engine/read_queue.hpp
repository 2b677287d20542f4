#pragma once

#include "ports.hpp"

#include <deque>
#include <functional>
#include <memory>

namespace quotalume {

// The sources' readings, one Codex at a time: a reading asked for while another runs waits its
// turn, so a source that hangs holds up the next by at most its own time limit.
class ReadQueue : public CodexSource {
public:
    explicit ReadQueue(CodexSource& codex) : codex_(codex) {}
    ReadQueue(const ReadQueue&) = delete;
    ReadQueue& operator=(const ReadQueue&) = delete;

    void fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
               std::function<void(FetchResult)> done) override;

private:
    struct Waiting {
        CodexConfiguration configuration;
        CodexClient::Depth depth;
        std::function<void(FetchResult)> done;
    };
    void next();

    CodexSource& codex_;
    std::deque<Waiting> waiting_;
    bool running_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quotalume
