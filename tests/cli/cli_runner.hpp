#pragma once

#include "test_support.hpp"

#include <quotalume/child_process.hpp>

#include <algorithm>
#include <ctime>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quotalume::test {

struct CLIRun {
    int exitCode;
    std::string output;  // standard output and standard error together
};

// The arguments of /bin/sh running quotalume-cli with `arguments`, its standard error joined
// to its standard output.
inline std::vector<std::string> cliArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> shellArguments = {"-c", "exec \"$0\" \"$@\" 2>&1", QUOTALUME_CLI};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    return shellArguments;
}

// A private HOME, configuration and data folder under `home`; `environment` ("NAME=value")
// adds variables or replaces these.
inline std::vector<std::string> cliEnvironment(const TempDir& home,
                                               const std::vector<std::string>& environment) {
    std::vector<std::string> variables = environment;
    for (const std::string& standard :
         {"HOME=" + home.str(), "XDG_CONFIG_HOME=" + home.str() + "/config",
          "XDG_DATA_HOME=" + home.str() + "/data", std::string("LANG=C.UTF-8"),
          std::string("PATH=/usr/bin:/bin")}) {
        const std::string name = standard.substr(0, standard.find('=') + 1);
        if (std::none_of(variables.begin(), variables.end(),
                         [&](const std::string& given) { return given.starts_with(name); })) {
            variables.push_back(standard);
        }
    }
    return variables;
}

// The fake app-server's rate_limits.json: the five-hour window `used` percent, resetting at
// `resetsAt`, beside a weekly window at 10 %.
inline std::string codexLimits(double used, std::time_t resetsAt) {
    return nlohmann::json{
        {"accountId", "acct"},
        {"rateLimits",
         {{"limitId", "codex"},
          {"primary", {{"usedPercent", used}, {"windowDurationMins", 300}, {"resetsAt", resetsAt}}},
          {"secondary",
           {{"usedPercent", 10}, {"windowDurationMins", 10080}, {"resetsAt", 1900000000}}}}}}
        .dump();
}

// A `quotalume-cli watch` with `options` in the private folders of `home`, which is also its
// Codex home. It has no system bus, and no session bus unless `sessionBus` names one.
inline ChildProcess::Options watchProcess(const TempDir& home,
                                          const std::vector<std::string>& options,
                                          const std::string& sessionBus = "") {
    std::vector<std::string> arguments = {"watch"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const std::string noBus = "unix:path=" + home.str() + "/no-bus";
    return {.executable = "/bin/sh",
            .arguments = cliArguments(arguments),
            .environment = cliEnvironment(
                home, {"CODEX_HOME=" + home.str(),
                       "DBUS_SESSION_BUS_ADDRESS=" + (sessionBus.empty() ? noBus : sessionBus),
                       "DBUS_SYSTEM_BUS_ADDRESS=" + noBus}),
            .workingDirectory = home.str()};
}

// Runs quotalume-cli with a private HOME, configuration and data folder, and `input` on its
// standard input. `environment` ("NAME=value") adds variables or replaces these.
inline CLIRun runCLI(const std::vector<std::string>& arguments, const TempDir& home,
                     const std::string& input = "",
                     const std::vector<std::string>& environment = {}) {
    ChildProcess child({.executable = "/bin/sh",
                        .arguments = cliArguments(arguments),
                        .environment = cliEnvironment(home, environment),
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

}  // namespace quotalume::test
