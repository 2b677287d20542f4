#pragma once

#include "test_support.hpp"

#include <quotalume/preferences/settings.hpp>
#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/support/child_process.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <system_error>

namespace quotalume::test {

using Strings = std::vector<std::string>;

inline Strings joined(Strings first, const Strings& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

struct CLIRun {
    int exitCode;
    std::string output;  // standard output and standard error together

    // One comparison checks both, and a failure shows both.
    friend bool operator==(const CLIRun&, const CLIRun&) = default;
    friend void PrintTo(const CLIRun& run, std::ostream* out) {
        *out << "exit status " << run.exitCode << ", output:\n" << run.output;
    }
};

// quotalume-cli, stderr joined to stdout, in private folders under `home`; `environment` overrides.
inline ChildProcess::Options cliProcess(const TempDir& home, const Strings& arguments,
                                        const Strings& environment = {}) {
    Strings variables = environment;
    // A runtime folder of its own, where its engine's socket goes.
    std::filesystem::create_directory(home.path() / "run", home.path());
    for (const std::string& standard :
         {"HOME=" + home.str(), "XDG_CONFIG_HOME=" + home.str() + "/config",
          "XDG_DATA_HOME=" + home.str() + "/data", "XDG_RUNTIME_DIR=" + home.str() + "/run",
          std::string("LANG=C.UTF-8"), std::string("PATH=/usr/bin:/bin")}) {
        const std::string name = standard.substr(0, standard.find('=') + 1);
        if (std::none_of(variables.begin(), variables.end(),
                         [&](const std::string& given) { return given.starts_with(name); })) {
            variables.push_back(standard);
        }
    }
    return {.executable = "/bin/sh",
            .arguments = joined({"-c", "exec \"$0\" \"$@\" 2>&1", QUOTALUME_CLI}, arguments),
            .environment = variables,
            .workingDirectory = home.str()};
}

// The weekly window's reset: three days on from the test's start, the same at every reading of
// the test (a weekly reset that moved would be warned of), and sound at any time it reads it.
inline std::time_t weeklyReset() {
    static const std::time_t once = std::time(nullptr) + 3 * 86400;
    return once;
}

// The fake's rate_limits.json: five-hour `used` % resetting at `resetsAt`, weekly `weekly` %.
inline std::string codexLimits(double used, std::time_t resetsAt, double weekly = 10) {
    return nlohmann::json{
        {"accountId", "acct"},
        {"rateLimits",
         {{"limitId", "codex"},
          {"primary", {{"usedPercent", used}, {"windowDurationMins", 300}, {"resetsAt", resetsAt}}},
          {"secondary",
           {{"usedPercent", weekly}, {"windowDurationMins", 10080}, {"resetsAt", weeklyReset()}}}}}}
        .dump();
}

// A watch in `home`, also its Codex home, with no system bus and only `sessionBus` if given.
inline ChildProcess::Options watchProcess(const TempDir& home, const Strings& options,
                                          const std::string& sessionBus = "") {
    const std::string noBus = "unix:path=" + home.str() + "/no-bus";
    return cliProcess(home, joined({"watch"}, options),
                      {"CODEX_HOME=" + home.str(),
                       "DBUS_SESSION_BUS_ADDRESS=" + (sessionBus.empty() ? noBus : sessionBus),
                       "DBUS_SYSTEM_BUS_ADDRESS=" + noBus});
}

// Saves settings with the webhook on, to `url`, for the warnings too when asked; the saved codex
// is missing, for --codex to replace.
inline Settings saveWebhookOn(const TempDir& home, const std::string& url, bool warnings = false) {
    const Settings saved{.webhookEnabled = true, .codexPath = "/nowhere/codex"};
    FilePreferencesStore preferences(home.path() / "config/Quotalume/defaults.json");
    saved.save(preferences);
    if (warnings) {
        preferences.setString(WarningPreferences::webhookKey, "true");
    }
    WebhookConfigurationStore(home.path() / "data" / "Quotalume").save({.url = url});
    return saved;
}

// Runs quotalume-cli as cliProcess does, with `input` on its standard input.
inline CLIRun runCLI(const Strings& arguments, const TempDir& home, const std::string& input = "",
                     const Strings& environment = {}) {
    ChildProcess child(cliProcess(home, arguments, environment));
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

// A Unix stream socket listening at `path`, or connected to it when `connecting`; -1 if not.
inline int unixSocket(const std::string& path, bool connecting = false) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connecting ? ::connect(fd, at, sizeof address) != 0
                   : ::bind(fd, at, sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Each stop signal ends `launch`, hung on a Codex whose grandchild holds its output, and all of it.
inline void expectStopSignalsEndCodexToo(
    const std::function<ChildProcess::Options(const FakeCodexHome&)>& launch,
    const std::function<int(int)>& exitCode) {
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(number));
        FakeCodexHome codex("holder\nhang\n");
        ChildProcess cli(launch(codex));
        ASSERT_TRUE(eventually([&] {
            return std::filesystem::exists(codex.path() / "holder.pid") &&
                   !codex.read("holder.pid").empty();
        }));
        const pid_t child = codex.launchInfo()["pid"].get<pid_t>();
        const pid_t holder = std::stoi(codex.read("holder.pid"));
        ::kill(cli.pid(), number);
        ASSERT_TRUE(cli.waitForExit(std::chrono::seconds(30)));
        EXPECT_EQ(cli.exitCode(), exitCode(number));
        for (pid_t pid : {child, holder}) {
            EXPECT_TRUE(eventually([&] { return !processAlive(pid); })) << pid << " outlived it";
        }
    }
}

}  // namespace quotalume::test
