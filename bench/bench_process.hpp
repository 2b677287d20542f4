#pragma once

// What the rest benchmarks share: reading a process's status and letting Qt run meanwhile.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quotalume::bench {

// A numeric field of /proc/<pid>/status ("VmRSS", "voluntary_ctxt_switches"…); 0 when absent.
inline long long statusField(const std::filesystem::path& status, const std::string& name) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(name + ":")) {
            return std::stoll(line.substr(name.size() + 1));
        }
    }
    return 0;
}

// Runs Qt's events for the given time, sleeping between them so the pump itself costs little.
inline void pump(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
}

}  // namespace quotalume::bench
