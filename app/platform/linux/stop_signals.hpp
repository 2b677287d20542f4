#pragma once

namespace quotalume {

// SIGINT, SIGTERM and SIGHUP turned into a byte on a pipe, so an event loop can stop at its
// own pace, and SIGUSR1 (a status bar asking for a reading now) into a byte on another: the
// handler only writes, which is async-signal-safe. A signal ignored by whoever started us
// (nohup) stays ignored. One instance at a time.
class StopSignals {
public:
    // Throws std::system_error when no pipe can be made.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable once a signal has arrived.
    int descriptor() const { return read_; }
    // Readable once SIGUSR1 has arrived; read it empty to hear the next one.
    int refreshDescriptor() const { return refreshRead_; }

private:
    int read_ = -1;
    int refreshRead_ = -1;
};

}  // namespace quotalume
