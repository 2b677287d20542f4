#include "core_ports.hpp"

#include "engine_reading.hpp"

#include <quotalume/codex/codex_client.hpp>
#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/webhook/webhook_delivery_error.hpp>
#include <quotalume/webhook/webhook_sender.hpp>

#include <exception>
#include <string>
#include <system_error>

namespace quotalume {

BackgroundWork::~BackgroundWork() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->loop = nullptr;
    }
    cancellation_.raise();
    for (Worker& worker : workers_) {
        worker.thread.join();
    }
}

void BackgroundWork::reap() {
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.finished->load(std::memory_order_acquire)) {
            return false;
        }
        worker.thread.join();
        return true;
    });
}

void CodexClientSource::fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
                              std::function<void(FetchResult)> done) {
    const bool following = engine_ != nullptr && engine_->busy();
    work_.run<FetchResult>(
        [configuration, depth, following, directory = dataDirectory_]() -> FetchResult {
            try {
                std::optional<engine_socket::ViewReadLock> readLock;
                if (following) {
                    const auto deadline = std::chrono::steady_clock::now() +
                                          std::chrono::milliseconds(
                                              static_cast<long long>(1000 * configuration.timeout));
                    EngineAnswer answer = EngineReading::ask(directory, false, deadline);
                    // The first source is the engine's first; another is found by its label,
                    // and one the engine does not know is read here.
                    const auto ours = [&](const EngineReading& all) {
                        return configuration.sourceLabel ? all.labelled(*configuration.sourceLabel)
                                                         : &all;
                    };
                    const EngineReading* shown = nullptr;
                    switch (answer.outcome) {
                        case EngineAnswer::Outcome::reading:
                            if ((shown = ours(*answer.reading)) == nullptr) {
                                break;
                            }
                            if (shown->error) {
                                return *shown->error;
                            }
                            if (shown->snapshot) {
                                return *shown->snapshot;
                            }
                            break;
                        case EngineAnswer::Outcome::busy:
                            // Never a Codex of our own beside a busy engine: what it saved.
                            if (auto saved = EngineReading::saved(directory,
                                                                  std::chrono::system_clock::now());
                                saved && (shown = ours(*saved)) != nullptr && shown->snapshot) {
                                return *shown->snapshot;
                            }
                            return LocalizedMessage("engine.busy_nothing_saved",
                                                    {std::to_string(answer.pid)});
                        case EngineAnswer::Outcome::silent:
                            // One view at a time reads in the place of an engine that hangs.
                            readLock = engine_socket::ViewReadLock::acquire(deadline);
                            break;
                        case EngineAnswer::Outcome::noEngine:
                            break;
                    }
                }
                return CodexClient().fetch(configuration, depth);
            } catch (...) {
                return LocalizedMessage::from(std::current_exception());
            }
        },
        [](std::exception_ptr error) -> FetchResult { return LocalizedMessage::from(error); },
        std::move(done));
}

void WebhookSenderPort::send(const Announcement& announcement,
                             const WebhookConfiguration& configuration, bool isTest,
                             std::function<void(WebhookResult)> done) {
    work_.run<WebhookResult>(
        [announcement, configuration, isTest]() -> WebhookResult {
            try {
                WebhookSender().send(announcement, configuration, isTest);
                return std::nullopt;
            } catch (const WebhookDeliveryError& error) {
                return WebhookFailure{error.message(), error.retryable()};
            } catch (...) {
                // A request that cannot even be built is never retried.
                return WebhookFailure{LocalizedMessage::from(std::current_exception()), false};
            }
        },
        [](std::exception_ptr error) -> WebhookResult {
            return WebhookFailure{LocalizedMessage::from(error), true};  // try again later
        },
        std::move(done));
}

std::optional<LocalizedMessage> FolderEngineGuard::claim() {
    if (lock_) {
        // Asked at every reading: a deleted lock file is put back for the views to find us.
        lock_->keepLockFile(directory_, self_);
        return std::nullopt;
    }
    busy_ = false;
    try {
        lock_ = EngineLock::acquire(directory_, self_);
    } catch (const std::system_error& error) {
        return LocalizedMessage("engine.lock_failed", {(directory_ / EngineLock::fileName).string(),
                                                       std::to_string(error.code().value())});
    }
    if (lock_) {
        return std::nullopt;
    }
    busy_ = true;
    const std::optional<EngineHolder> holder = EngineLock::holder(directory_);
    if (self_.program == "quotalume" && holder && holder->program == "quotalume-cli watch" &&
        !holder->socket.empty()) {
        // The tray app then shows what that watch reads: nothing to stop.
        return LocalizedMessage("engine.view_of_watch", {std::to_string(holder->pid)});
    }
    return busyMessage(holder, self_.runtimeDirectory);
}

LocalizedMessage FolderEngineGuard::busyMessage(const std::optional<EngineHolder>& holder,
                                                std::string_view ownRuntimeDirectory) {
    if (!holder) {
        return LocalizedMessage("cli.engine_busy");
    }
    const std::string pid = std::to_string(holder->pid);
    if (holder->program == "quotalume-cli watch") {
        return LocalizedMessage("engine.busy_watch", {pid});
    }
    if (!holder->runtimeDirectory.empty() && holder->runtimeDirectory != ownRuntimeDirectory) {
        return LocalizedMessage("engine.busy_app_elsewhere", {pid, holder->runtimeDirectory});
    }
    return LocalizedMessage("engine.busy_app", {pid});
}

}  // namespace quotalume
