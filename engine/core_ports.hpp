#pragma once

#include "ports.hpp"

#include <quotalume/engine_lock.hpp>

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

namespace quotalume {

// Runs blocking core calls each on a thread of its own and hands the result to the main loop
// as a value. Results that arrive after this object is gone are dropped. Requires a MainLoop
// whose post may be called from any thread.
class BackgroundWork {
public:
    explicit BackgroundWork(MainLoop& loop) : shared_(std::make_shared<Shared>(&loop)) {}
    ~BackgroundWork() {
        std::lock_guard lock(shared_->mutex);
        shared_->loop = nullptr;
    }
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // `work` must not throw: it turns every failure into its result. When no thread can be
    // started, `failed` makes the result from that error.
    template <typename Result>
    void run(std::function<Result()> work, std::function<Result(std::exception_ptr)> failed,
             std::function<void(Result)> done) {
        try {
            // Detached: a Codex session may take its whole 25 s, and quitting must not wait for
            // it. The child of a session dies with the thread that started it.
            std::thread([shared = shared_, work, done]() mutable {
                deliver(*shared, std::move(done), work());
            }).detach();
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

    template <typename Result>
    static void deliver(Shared& shared, std::function<void(Result)> done, Result value) {
        auto result = std::make_shared<Result>(std::move(value));
        std::lock_guard lock(shared.mutex);
        if (shared.loop != nullptr) {
            shared.loop->post([done = std::move(done), result] { done(std::move(*result)); });
        }
    }

    std::shared_ptr<Shared> shared_;
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
    void fetch(const CodexConfiguration& configuration,
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
