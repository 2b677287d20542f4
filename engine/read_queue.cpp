#include "read_queue.hpp"

#include <utility>

namespace quotalume {

void ReadQueue::fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
                      std::function<void(FetchResult)> done) {
    waiting_.push_back({configuration, depth, std::move(done)});
    next();
}

void ReadQueue::next() {
    if (running_ || waiting_.empty()) {
        return;
    }
    Waiting turn = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = true;
    codex_.fetch(turn.configuration, turn.depth,
                 [this, alive = std::weak_ptr<int>(alive_),
                  done = std::move(turn.done)](FetchResult result) {
                     if (alive.expired()) {
                         return;  // the engine is gone, and its readers with it
                     }
                     running_ = false;
                     done(std::move(result));
                     next();
                 });
}

}  // namespace quotalume
