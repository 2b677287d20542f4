#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// A child process whose standard input and output are pipes to us and whose standard error
// goes to /dev/null. It inherits no other descriptor of ours, starts with default signal
// handling in a process group of its own, and is killed by the kernel if the thread that
// started it ends. It is always reaped: by waitForExit, or killed and reaped on destruction;
// whatever is left of its group is killed when it is reaped.
class ChildProcess {
public:
    struct Options {
        std::string executable;
        std::vector<std::string> arguments;    // without argv[0]
        std::vector<std::string> environment;  // "NAME=value" entries
        std::string workingDirectory;
    };

    // Throws std::system_error with the errno of the failed launch step.
    explicit ChildProcess(const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    int input() const { return input_; }    // write end, non-blocking
    int output() const { return output_; }  // read end
    // Readable once the child has exited (a pidfd); -1 on kernels without pidfds.
    int exitDescriptor() const { return pidfd_; }
    void closeInput();
    void closeOutput();

    // False once the child has exited; an exited child is reaped on the spot.
    bool running();
    // Waits up to `timeout` for the child to exit; true when it has (and is reaped).
    bool waitForExit(std::chrono::milliseconds timeout);
    // Signals the child's group unless the child has been reaped (its pid may then be
    // another's).
    void signal(int number);
    // The exit status once reaped: the exit code, or 128 + the signal that ended it.
    std::optional<int> exitCode() const { return exitCode_; }
    // SIGKILL, then a blocking reap: SIGKILL cannot be ignored, so this returns promptly.
    void killAndReap();

    // Kills the groups of every child not yet reaped. Async-signal-safe: for a handler of
    // SIGINT or SIGTERM that ends the program.
    static void terminateAll() noexcept;

private:
    bool reap(int flags);

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool reaped_ = false;
    std::optional<int> exitCode_;
};

// Writes all of `data` to a non-blocking descriptor, waiting for room until `deadline`.
// Returns false when the deadline passed first. A reader that has gone away gives
// std::system_error(EPIPE), never a SIGPIPE, whatever the program's signal disposition.
bool writeAll(int fd, std::string_view data, std::chrono::steady_clock::time_point deadline);

}  // namespace quotalume
