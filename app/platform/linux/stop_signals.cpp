#include "linux/stop_signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quotalume {
namespace {

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t writeEnd = -1;

void noteSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    (void)!::write(writeEnd, &byte, 1);  // a full pipe already says enough
    errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::system_category(), "pipe");
    }
    read_ = ends[0];
    writeEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : stopSignals) {
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
    for (int number : stopSignals) {
        struct sigaction current {};
        if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == noteSignal) {
            ::sigaction(number, &standard, nullptr);
        }
    }
    ::close(writeEnd);
    writeEnd = -1;
    ::close(read_);
}

}  // namespace quotalume
