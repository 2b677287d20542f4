// Stands in for `codex app-server --listen stdio://` in tests and benchmarks: follows
// $CODEX_HOME/script, one command a line, then reads stdin to its end and exits 0. Commands:
//   read; reply JSON (answers the next request); send TEXT (with a line feed; "\n" writes one);
//   part TEXT (in one write), flood N (N bytes of "x"), both without a line feed; sleep MS;
//   exit CODE; ignore-term; hang (until killed); close-input (writes to us then fail with EPIPE);
//   serve; holder: a grandchild holds our stdout, its pid in holder.pid; chatter: one writing junk.
// Lines read go to $CODEX_HOME/received; launch.json gets argv, pid, cwd, environment and open
// descriptors. `serve` answers initialize with {}, account/read with account.json and
// account/rateLimits/read with rate_limits.json as it stands (defaults when absent;
// rate_limits.next.json then replaces it, for the next launch), anything else with error
// -32601. The answer is Codex's whole: other buckets with their names, windows of any length and
// a null ordinaryUsageAllowed are sent as written. Beside it, `serve` follows files of the home:
//   offline: every request but initialize fails as Codex's does without a network (-32603);
//   rate_limits.sequence.json: a list of answers, one per read, the last kept (a reset time that
//     moves, credits that turn redeemed or go);
//   light_unknown: params on account/rateLimits/read are refused as invalid (-32602), as a Codex
//     that predates them does; otherwise excludeResetCreditDetails leaves out the credits' list.
// Each request's method and params (or "-") go to $CODEX_HOME/params, one line each.

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

extern char** environ;

namespace {

using nlohmann::json;

std::string home;

std::string readFile(const std::string& path, const std::string& fallback) {
    std::ifstream in(path);
    if (!in) {
        return fallback;
    }
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeOut(const std::string& text) {
    std::string_view rest(text);
    while (!rest.empty()) {
        ssize_t n = ::write(STDOUT_FILENO, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::exit(3);  // the reader went away
        }
        rest.remove_prefix(static_cast<size_t>(n));
    }
}

// One line from stdin, appended to $CODEX_HOME/received; false at end of input.
bool readLine(std::string& line) {
    if (!std::getline(std::cin, line)) {
        return false;
    }
    std::ofstream(home + "/received", std::ios::app) << line << "\n";
    return true;
}

std::string unescape(std::string text) {
    for (auto at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at + 1)) {
        text.replace(at, 2, "\n");
    }
    return text;
}

void writeLaunchInfo(int argc, char** argv) {
    json info;
    info["argv"] = std::vector<std::string>(argv, argv + argc);
    info["pid"] = ::getpid();
    info["cwd"] = std::filesystem::current_path().string();
    info["environment"] = json::array();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        info["environment"].push_back(*entry);
    }
    info["descriptors"] = json::array();
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        int own = ::dirfd(dir);
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != own) {
                info["descriptors"].push_back(std::atoi(entry->d_name));
            }
        }
        ::closedir(dir);
    }
    std::error_code noTarget;
    info["stderr"] = std::filesystem::read_symlink("/proc/self/fd/2", noTarget).string();
    std::ofstream(home + "/launch.json") << info.dump();
}

bool exists(const std::string& name) {
    return std::filesystem::exists(home + "/" + name);
}

// The next answer of rate_limits.sequence.json, which keeps the rest (the last one stays).
std::string nextInSequence(const std::string& path) {
    json list = json::parse(readFile(path, "[]"), nullptr, false);
    if (!list.is_array() || list.empty()) {
        return "{}";
    }
    json first = list.front();
    if (list.size() > 1) {
        list.erase(list.begin());
        std::ofstream(path) << list.dump();
    }
    return first.dump();
}

json serveAnswer(const json& request) {
    const std::string method = request.value("method", "");
    std::ofstream(home + "/params", std::ios::app)
        << method << "\t" << (request.contains("params") ? request["params"].dump() : "-") << "\n";
    if (method == "initialize") {
        return {{"result", json::object()}};
    }
    if (exists("offline")) {
        return {{"error", {{"code", -32603}, {"message", "workspace routing discovery failed"}}}};
    }
    const bool light = request.contains("params");
    if (method == "account/rateLimits/read" && light && exists("light_unknown")) {
        return {{"error", {{"code", -32602}, {"message", "Invalid params"}}}};
    }
    // A light read has the banked resets' count, not their list.
    const auto lightened = [light](json answer) {
        if (light && answer.is_object() && answer.contains("rateLimitResetCredits") &&
            answer["rateLimitResetCredits"].is_object()) {
            answer["rateLimitResetCredits"]["credits"] = nullptr;
        }
        return json{{"result", std::move(answer)}};
    };
    if (method == "account/rateLimits/read" && exists("rate_limits.sequence.json")) {
        return lightened(json::parse(nextInSequence(home + "/rate_limits.sequence.json")));
    }
    if (method == "account/read") {
        return {{"result", json::parse(readFile(
                               home + "/account.json",
                               R"({"account":{"type":"chatgpt","email":"user@example.com"}})"))}};
    }
    if (method == "account/rateLimits/read") {
        const std::string answer = readFile(
            home + "/rate_limits.json",
            // Every member codex-cli 0.169.0 sends, in the shapes its schema gives them.
            R"({"rateLimits":{"limitId":"codex","primary":{"usedPercent":24,"windowDurationMins":300,"resetsAt":1900000000},"secondary":{"usedPercent":39,"windowDurationMins":10080,"resetsAt":1900200000},"rateLimitReachedType":null,"spendControlReached":false,"individualLimit":null},"ordinaryUsageAllowed":true,"rateLimitResetCredits":{"availableCount":0,"credits":null}})");
        (void)std::rename((home + "/rate_limits.next.json").c_str(),
                          (home + "/rate_limits.json").c_str());
        return lightened(json::parse(answer));
    }
    return {{"error", {{"code", -32601}, {"message", "unsupported"}}}};
}

void serve() {
    std::string line;
    while (readLine(line)) {
        json request = json::parse(line, nullptr, false);
        if (!request.is_object() || !request.contains("id") || !request.contains("method")) {
            continue;
        }
        json answer = serveAnswer(request);
        answer["id"] = request["id"];
        writeOut(answer.dump() + "\n");
    }
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* codexHome = std::getenv("CODEX_HOME");
    home = codexHome != nullptr ? codexHome : ".";
    writeLaunchInfo(argc, argv);

    std::istringstream script(readFile(home + "/script", ""));
    std::string command;
    while (std::getline(script, command)) {
        auto space = command.find(' ');
        std::string verb = command.substr(0, space);
        std::string rest = space == std::string::npos ? "" : command.substr(space + 1);
        std::string line;
        if (verb.empty() || verb[0] == '#') {
            continue;
        } else if (verb == "read") {
            if (!readLine(line)) {
                return 0;
            }
        } else if (verb == "reply") {
            if (!readLine(line)) {
                return 0;
            }
            json request = json::parse(line, nullptr, false);
            json id = request.is_object() ? request.value("id", json()) : json();
            writeOut(json{{"id", id}, {"result", json::parse(rest)}}.dump() + "\n");
        } else if (verb == "send") {
            writeOut(unescape(rest) + "\n");
        } else if (verb == "part") {
            writeOut(unescape(rest));
        } else if (verb == "flood") {
            for (long left = std::atol(rest.c_str()); left > 0; left -= 65536) {
                writeOut(std::string(static_cast<size_t>(std::min(left, 65536L)), 'x'));
            }
        } else if (verb == "sleep") {
            ::usleep(static_cast<useconds_t>(std::atol(rest.c_str()) * 1000));
        } else if (verb == "exit") {
            std::exit(std::atoi(rest.c_str()));
        } else if (verb == "ignore-term") {
            ::signal(SIGTERM, SIG_IGN);
        } else if (verb == "close-input") {
            ::close(STDIN_FILENO);
        } else if (verb == "hang") {
            for (;;) {
                ::pause();
            }
        } else if (verb == "holder" || verb == "chatter") {
            if (pid_t holder = ::fork(); holder == 0) {
                ::close(STDIN_FILENO);
                for (;;) {
                    if (verb == "chatter") {
                        (void)!::write(STDOUT_FILENO, "junk\n", 5);
                        ::usleep(1000);
                    } else {
                        ::pause();
                    }
                }
            } else {
                std::ofstream(home + "/holder.pid") << holder;
            }
        } else if (verb == "serve") {
            serve();
        } else {
            return 64;
        }
    }
    std::string line;
    while (readLine(line)) {
    }
    return 0;
}
