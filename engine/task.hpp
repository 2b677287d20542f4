#pragma once

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace quotalume {

// The monitor's asynchronous operations: coroutines that start at once, run on the main loop
// and are never awaited by anyone. No exception may leave one.
struct Task {
    struct promise_type {
        Task get_return_object() noexcept { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { std::terminate(); }
    };
};

// co_await of a port call that answers through a callback. The coroutine resumes with the
// answer when it comes, unless `owner` has gone by then: a monitor destroyed while it waited
// is never touched again, and the suspended coroutine is destroyed instead. A callback that
// is dropped without being called destroys the coroutine too, so no frame is ever leaked.
template <typename Value>
class Answer {
public:
    using Start = std::function<void(std::function<void(Value)>)>;

    Answer(std::weak_ptr<void> owner, Start start)
        : owner_(std::move(owner)), start_(std::move(start)) {}

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> handle) {
        auto frame = std::make_shared<Frame>(handle);
        // If starting the call throws, the exception goes on into the coroutine, which must
        // then still exist: the guard lets go of it first.
        struct Release {
            std::shared_ptr<Frame> frame;
            bool started = false;
            ~Release() {
                if (!started) {
                    frame->handle = nullptr;
                }
            }
        } release{frame};
        start_([this, frame, owner = owner_](Value value) {
            std::coroutine_handle<> waiting = std::exchange(frame->handle, nullptr);
            if (!waiting) {
                return;  // answered twice: the first answer counts
            }
            if (owner.expired()) {
                waiting.destroy();
                return;
            }
            value_.emplace(std::move(value));
            waiting.resume();
        });
        release.started = true;
    }

    Value await_resume() { return std::move(*value_); }

private:
    struct Frame {
        explicit Frame(std::coroutine_handle<> waiting) : handle(waiting) {}
        ~Frame() {
            if (handle) {
                handle.destroy();
            }
        }
        std::coroutine_handle<> handle;
    };

    std::weak_ptr<void> owner_;
    Start start_;
    std::optional<Value> value_;
};

// For calls whose callback carries nothing.
struct Done {};

}  // namespace quotalume
