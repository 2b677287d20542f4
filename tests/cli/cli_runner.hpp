#pragma once

#include <quotalume/child_process.hpp>

#include "test_support.hpp"

#include <unistd.h>

#include <string>
#include <system_error>
#include <vector>

namespace quotalume::testing {

struct CLIRun {
    int exitCode;
    std::string output;  // standard output and standard error together
};

// Runs quotalume-cli with a private HOME, configuration and data folder, and `input` on its
// standard input.
inline CLIRun runCLI(const std::vector<std::string>& arguments, const TempDir& home, const std::string& input = "") {
    std::vector<std::string> shellArguments = {"-c", "exec \"$0\" \"$@\" 2>&1", QUOTALUME_CLI};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    ChildProcess child({.executable = "/bin/sh",
                        .arguments = shellArguments,
                        .environment = {"HOME=" + home.str(), "XDG_CONFIG_HOME=" + home.str() + "/config",
                                        "XDG_DATA_HOME=" + home.str() + "/data", "LANG=C.UTF-8",
                                        "PATH=/usr/bin:/bin"},
                        .workingDirectory = home.str()});
    try {
        writeAll(child.input(), input, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    } catch (const std::system_error&) {
        // The program ended without reading its input, as usage errors do.
    }
    child.closeInput();
    std::string output;
    char chunk[4096];
    for (ssize_t n; (n = ::read(child.output(), chunk, sizeof chunk)) > 0;) {
        output.append(chunk, static_cast<size_t>(n));
    }
    child.waitForExit(std::chrono::seconds(60));
    return {child.exitCode().value_or(-1), output};
}

}  // namespace quotalume::testing
