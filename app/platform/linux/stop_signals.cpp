#include "linux/stop_signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quotalume {
namespace {

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGUSR1};
volatile sig_atomic_t writeEnd = -1;
volatile sig_atomic_t refreshWriteEnd = -1;

void noteSignal(int number) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already says enough.
    (void)!::write(number == SIGUSR1 ? refreshWriteEnd : writeEnd, &byte, 1);
    errno = savedErrno;
}

int makePipe(volatile sig_atomic_t& writing) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::system_category(), "pipe");
    }
    writing = ends[1];
    return ends[0];
}

}  // namespace

StopSignals::StopSignals() {
    read_ = makePipe(writeEnd);
    try {
        refreshRead_ = makePipe(refreshWriteEnd);
    } catch (...) {
        ::close(read_);
        ::close(writeEnd);
        writeEnd = -1;
        throw;
    }
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : handledSignals) {
        struct sigaction previous {};
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            ::sigaction(number, &action, nullptr);
        }
    }
}

StopSignals::~StopSignals() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (int number : handledSignals) {
        struct sigaction current {};
        if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == noteSignal) {
            ::sigaction(number, &standard, nullptr);
        }
    }
    for (volatile sig_atomic_t* end : {&writeEnd, &refreshWriteEnd}) {
        ::close(*end);
        *end = -1;
    }
    ::close(read_);
    ::close(refreshRead_);
}

}  // namespace quotalume
