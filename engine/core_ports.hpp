#pragma once

#include "ports.hpp"

#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/support/cancellation.hpp>

#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace quotalume {

// Runs blocking core calls each on a thread of its own and hands the result to the main loop
// as a value. Results that arrive after this object is gone are dropped. Requires a MainLoop
// whose post may be called from any thread.
//
// Every thread is joined: going, this object raises its cancellation, so that what still runs
// gives up at once (a Codex child is killed, a webhook transfer aborted and its delivery left
// owed, a wait on another process ends), and waits for them.
class BackgroundWork {
public:
    explicit BackgroundWork(MainLoop& loop) : shared_(std::make_shared<Shared>(&loop)) {}
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // `work` must not throw: it turns every failure into its result. When no thread can be
    // started, `failed` makes the result from that error.
    template <typename Result>
    void run(std::function<Result()> work, std::function<Result(std::exception_ptr)> failed,
             std::function<void(Result)> done) {
        reap();
        auto finished = std::make_shared<std::atomic<bool>>(false);
        try {
            workers_.push_back({std::thread([shared = shared_, work, done, finished,
                                             cancellation = &cancellation_]() mutable {
                                    const Cancellation::Scope scope(*cancellation);
                                    deliver(*shared, std::move(done), work());
                                    finished->store(true, std::memory_order_release);
                                }),
                                finished});
        } catch (...) {
            deliver(*shared_, std::move(done), failed(std::current_exception()));
        }
    }

private:
    struct Shared {
        explicit Shared(MainLoop* mainLoop) : loop(mainLoop) {}
        std::mutex mutex;
        MainLoop* loop;
    };
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    template <typename Result>
    static void deliver(Shared& shared, std::function<void(Result)> done, Result value) {
        auto result = std::make_shared<Result>(std::move(value));
        std::lock_guard lock(shared.mutex);
        if (shared.loop != nullptr) {
            shared.loop->post([done = std::move(done), result] { done(std::move(*result)); });
        }
    }
    // Joins the threads that are done.
    void reap();

    std::shared_ptr<Shared> shared_;
    Cancellation cancellation_;
    std::vector<Worker> workers_;
};

// The Codex client behind the engine's port.
class FolderEngineGuard;

class CodexClientSource final : public CodexSource {
public:
    explicit CodexClientSource(MainLoop& loop) : work_(loop) {}
    // While `engine` finds another process holding it, that process's engine is asked for its
    // reading first: a view starts no Codex of its own.
    CodexClientSource(MainLoop& loop, const FolderEngineGuard* engine,
                      std::filesystem::path dataDirectory)
        : work_(loop), engine_(engine), dataDirectory_(std::move(dataDirectory)) {}
    void fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
               std::function<void(FetchResult)> done) override;

private:
    BackgroundWork work_;
    const FolderEngineGuard* engine_ = nullptr;
    std::filesystem::path dataDirectory_;
};

// The webhook sender behind the engine's port.
class WebhookSenderPort final : public WebhookPort {
public:
    explicit WebhookSenderPort(MainLoop& loop) : work_(loop) {}
    void send(const Announcement& announcement, const WebhookConfiguration& configuration,
              bool isTest, std::function<void(WebhookResult)> done) override;

private:
    BackgroundWork work_;
};

// The engine lock on the data folder behind the engine's port; once taken, it is kept until
// this object goes.
class FolderEngineGuard final : public EngineGuard {
public:
    FolderEngineGuard(std::filesystem::path directory, EngineHolder self)
        : directory_(std::move(directory)), self_(std::move(self)) {}
    std::optional<LocalizedMessage> claim() override;
    // Whether the last claim found another holder, rather than a lock that could not be taken.
    bool busy() const { return busy_; }

    // Who holds it, as far as its record says, for someone running in `ownRuntimeDirectory`.
    static LocalizedMessage busyMessage(const std::optional<EngineHolder>& holder,
                                        std::string_view ownRuntimeDirectory);

private:
    std::filesystem::path directory_;
    EngineHolder self_;
    std::optional<EngineLock> lock_;
    bool busy_ = false;
};

}  // namespace quotalume
