#pragma once

#include "ports.hpp"

#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace quotalume {

// The engine's main loop on the Qt event loop of the thread that creates it (the GUI thread).
// Work posted or timers still armed when this object goes away are dropped uncalled.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    // Any thread.
    void post(std::function<void()> work) override;
    // The main thread only. Delays are clamped to 0 … 2^31-1 ms (about 24 days).
    std::unique_ptr<TimerHandle> startTimer(Duration delay, bool repeating,
                                            std::function<void()> fire) override;

private:
    // Posted work is delivered to this object, so deleting it discards what is still queued.
    std::unique_ptr<QObject> context_;
    std::mutex mutex_;  // guards context_ against posts from other threads during destruction
};

}  // namespace quotalume
