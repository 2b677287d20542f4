#pragma once

#include <atomic>
#include <chrono>

namespace quotalume {

// What a blocking call on a worker thread gives up for: once raised, waits on a socket, a
// child's output, a lock or a transfer return at once as failures. A thread answers to the one
// its Scope installed; without one nothing cancels it.
class Cancellation {
public:
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void raise() noexcept;
    bool raised() const noexcept { return raised_.load(std::memory_order_acquire); }
    // Readable once raised, for poll() beside what the call waits on.
    int descriptor() const noexcept { return descriptor_; }

    // The calling thread's, or nullptr.
    static const Cancellation* current() noexcept;
    // Whether the calling thread's has been raised.
    static bool requested() noexcept;

    // Makes `cancellation` the calling thread's until destroyed.
    class Scope {
    public:
        explicit Scope(const Cancellation& cancellation) noexcept;
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        const Cancellation* previous_;
    };

private:
    std::atomic<bool> raised_{false};
    int descriptor_ = -1;
};

}  // namespace quotalume
