#include "termination.hpp"

#include <quotalume/support/child_process.hpp>

#include <signal.h>

namespace quotalume::cli {
namespace {

void endChildrenAndDie(int number) {
    ChildProcess::terminateAll();
    // SA_RESETHAND has restored the default action; the signal, blocked while we run, is
    // delivered again as we return.
    ::raise(number);
}

}  // namespace

void endChildrenOnTermination() {
    struct sigaction action {};
    action.sa_handler = endChildrenAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            ::sigaction(number, &action, nullptr);
        }
    }
}

}  // namespace quotalume::cli
