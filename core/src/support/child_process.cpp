#include <quotalume/child_process.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quotalume {
namespace {

[[noreturn]] void throwErrno(int error, const char* what) {
    throw std::system_error(error, std::system_category(), what);
}

void closeQuietly(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A pipe whose ends are close-on-exec and never 0, 1 or 2, so that dup2 onto the standard
// descriptors in the child always yields a fresh, inheritable descriptor.
void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throwErrno(errno, "pipe");
    }
    for (int i = 0; i < 2; ++i) {
        if (fds[i] < 3) {
            int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
            int error = errno;
            ::close(fds[i]);
            fds[i] = moved;
            if (moved < 0) {
                closeQuietly(fds[1 - i]);
                throwErrno(error, "fcntl");
            }
        }
    }
}

struct SpawnAttributes {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnAttributes() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
    int in[2];
    int out[2];
    makePipe(in);
    try {
        makePipe(out);
    } catch (...) {
        ::close(in[0]);
        ::close(in[1]);
        throw;
    }

    SpawnAttributes spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&spawn.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Belt and braces: descriptors opened elsewhere without O_CLOEXEC must not leak either.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    if (!options.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&spawn.actions, options.workingDirectory.c_str());
    }
    // The child starts with nothing blocked and every signal at its default, whatever we
    // ignore (SIGPIPE, typically) or block.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&spawn.attributes, &none);
    posix_spawnattr_setsigdefault(&spawn.attributes, &all);
    posix_spawnattr_setflags(&spawn.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.executable.c_str()));
    for (const auto& argument : options.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& entry : options.environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);

    int error = ::posix_spawn(&pid_, options.executable.c_str(), &spawn.actions,
                              &spawn.attributes, argv.data(), envp.data());
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (error != 0) {
        closeInput();
        closeOutput();
        throwErrno(error, "posix_spawn");
    }
    ::fcntl(input_, F_SETFL, ::fcntl(input_, F_GETFL) | O_NONBLOCK);
    pidfd_ = openPidfd(pid_);
}

ChildProcess::~ChildProcess() {
    closeInput();
    closeOutput();
    if (!reaped_) {
        killAndReap();
    }
    closeQuietly(pidfd_);
}

void ChildProcess::closeInput() { closeQuietly(input_); }
void ChildProcess::closeOutput() { closeQuietly(output_); }

bool ChildProcess::reap(int flags) {
    if (reaped_) {
        return true;
    }
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, flags);
    } while (result < 0 && errno == EINTR);
    // ECHILD: someone else reaped it (a SIGCHLD handler set to SIG_IGN); it is gone either way.
    if (result == pid_ || (result < 0 && errno == ECHILD)) {
        reaped_ = true;
        if (result == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        closeQuietly(pidfd_);
    }
    return reaped_;
}

bool ChildProcess::running() { return !reap(WNOHANG); }

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (!reap(WNOHANG)) {
        auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            return false;
        }
        if (pidfd_ >= 0) {
            pollfd fd{pidfd_, POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(remaining.count()));
        } else {
            // Kernels before 5.3 have no pidfd: look again every few milliseconds.
            ::usleep(2000);
        }
    }
    return true;
}

void ChildProcess::signal(int number) {
    if (!reaped_) {
        ::kill(pid_, number);
    }
}

void ChildProcess::killAndReap() {
    signal(SIGKILL);
    reap(0);
}

bool writeAll(int fd, std::string_view data, std::chrono::steady_clock::time_point deadline) {
    // Pipes have no MSG_NOSIGNAL: block SIGPIPE on this thread for the write, and discard
    // the one our own failed write raised, so that only EPIPE remains.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;

    int error = 0;
    bool completed = true;
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written >= 0) {
            data.remove_prefix(static_cast<size_t>(written));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            error = errno;
            break;
        }
        auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) {
            completed = false;
            break;
        }
        pollfd ready{fd, POLLOUT, 0};
        ::poll(&ready, 1, static_cast<int>(std::min<long long>(remaining.count(), 1000)));
    }

    if (error == EPIPE && !alreadyPending) {
        timespec zero{};
        while (::sigtimedwait(&pipeSignal, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) {
        throwErrno(error, "write");
    }
    return completed;
}

}  // namespace quotalume
