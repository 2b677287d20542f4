#include <quotalume/support/child_process.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)pid;
    return -1;
#endif
}

// Process groups of children not yet reaped, for ending them from a signal handler. A slot
// holds 0 or a pid; lock-free so the handler may read it at any moment.
constexpr std::size_t groupSlots = 64;
std::atomic<pid_t> liveGroups[groupSlots];

void rememberGroup(pid_t pid) {
    for (auto& slot : liveGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) {
            return;
        }
    }
    // More sessions at once than slots: that one is only ended by its own session.
}

void forgetGroup(pid_t pid) {
    for (auto& slot : liveGroups) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0)) {
            return;
        }
    }
}

// Runs in the vforked child, sharing our memory: plain system calls only, until exec. Returns
// the errno of the step that failed; on success it does not return.
int becomeChild(const ChildProcess::Options& options, pid_t parent, int in, int out, char** argv,
                char** envp) {
    // Our own group, so the whole tree can be ended at once, and an end with the parent: a
    // session must not outlive the program that started it.
    if (::setpgid(0, 0) != 0 || ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        return errno;
    }
    if (::getppid() != parent) {
        ::_exit(127);  // the parent died before the death signal was armed
    }
    if (::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0) {
        return errno;
    }
    int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, STDERR_FILENO) < 0) {
        return errno;
    }
    // Belt and braces: descriptors opened elsewhere without O_CLOEXEC must not leak either.
    // Kernels before 5.9 have no close_range: close them one by one.
    if (::close_range(3, ~0U, 0) != 0) {
        rlimit limit{};
        const rlim_t highest =
            ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                ? std::min<rlim_t>(limit.rlim_cur, 1 << 20)
                : 1 << 16;
        for (rlim_t fd = 3; fd < highest; ++fd) {
            ::close(static_cast<int>(fd));
        }
    }
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
        return errno;
    }
    // Nothing blocked and every signal at its default, whatever we ignore (SIGPIPE,
    // typically) or block.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) {
        ::sigaction(number, &byDefault, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(options.executable.c_str(), argv, envp);
    return errno;
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
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

    // The pipes last, so that nothing above can fail with them open.
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

    // vfork, as posix_spawn does: no copy of our address space, and we resume only once the
    // child has exec'd or given up, leaving why in `launchError`. No signal handler of ours
    // may run in the child meanwhile, so every signal is blocked around it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    volatile int launchError = 0;
    const pid_t parent = ::getpid();
    const pid_t pid = ::vfork();
    if (pid == 0) {
        launchError = becomeChild(options, parent, in[0], out[1], argv.data(), envp.data());
        ::_exit(127);
    }
    const int forkError = errno;
    if (pid > 0) {
        rememberGroup(pid);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pid_ = pid;
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];

    const int error = pid < 0 ? forkError : launchError;
    if (error != 0) {
        if (pid > 0) {
            reap(0);
        }
        reaped_ = true;
        closeInput();
        closeOutput();
        throwErrno(error, "exec");
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

void ChildProcess::closeInput() {
    closeQuietly(input_);
}
void ChildProcess::closeOutput() {
    closeQuietly(output_);
}

bool ChildProcess::reap(int flags) {
    if (reaped_) {
        return true;
    }
    // Look without reaping first: while the child is a zombie its pid, and so its group id,
    // cannot be reused, so what is left of its group can be ended safely.
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT | flags);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        // ECHILD: someone else reaped it (a SIGCHLD handler set to SIG_IGN); it is gone.
        reaped_ = errno == ECHILD;
        if (reaped_) {
            forgetGroup(pid_);
        }
        return reaped_;
    }
    if (info.si_pid != pid_) {
        return false;  // still running
    }
    ::kill(-pid_, SIGKILL);  // grandchildren that would hold our pipe open
    forgetGroup(pid_);       // only now: a signal handler in between still ends the group
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid_, &status, 0);
    } while (waited < 0 && errno == EINTR);
    reaped_ = true;
    if (waited == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return true;
}

bool ChildProcess::running() {
    return !reap(WNOHANG);
}

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
        ::kill(-pid_, number);
    }
}

void ChildProcess::terminateAll() noexcept {
    for (auto& slot : liveGroups) {
        if (pid_t pid = slot.load(); pid > 0) {
            ::kill(-pid, SIGKILL);
        }
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
        auto remaining = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
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
