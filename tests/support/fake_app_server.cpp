// Stands in for `codex app-server --listen stdio://` in tests and benchmarks.
//
// It follows the script in $CODEX_HOME/script, one command per line:
//   read          read one line from stdin (recorded)
//   reply JSON    read one request and answer {"id": <its id>, "result": JSON}
//   send TEXT     write TEXT and a line feed; "\n" inside TEXT writes a line feed too
//   part TEXT     write TEXT without a line feed (one write, for split answers)
//   flood N       write N bytes of "x" without a line feed
//   sleep MS      pause
//   exit CODE     exit at once
//   ignore-term   ignore SIGTERM from now on
//   close-input   close stdin and carry on (writes to us then fail with EPIPE)
//   hang          stop reading and wait until killed
//   serve         answer every request like a signed-in app-server (see below)
//   holder        start a grandchild that keeps our stdout open and sleeps; its pid goes to
//                 $CODEX_HOME/holder.pid
//   chatter       the same, but the grandchild writes a junk line every millisecond
// After the last command it reads stdin until end of file, then exits 0.
//
// Every line received is appended to $CODEX_HOME/received; at start it writes its arguments,
// pid, working directory, environment and open descriptors to $CODEX_HOME/launch.json.
// `serve` answers "initialize" with {}, "account/read" with $CODEX_HOME/account.json,
// "account/rateLimits/read" with $CODEX_HOME/rate_limits.json (defaults when absent), and
// anything else with error -32601. A $CODEX_HOME/rate_limits.next.json then takes the place of
// rate_limits.json, so the next launch answers with it: a second reading, scripted.

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace {

using nlohmann::json;

std::string home;
std::string pending;  // bytes read from stdin past the last line

std::string readFile(const std::string& path, const std::string& fallback) {
    std::ifstream in(path);
    if (!in) {
        return fallback;
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeOut(const std::string& text) {
    std::string_view rest(text);
    while (!rest.empty()) {
        ssize_t n = ::write(STDOUT_FILENO, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::_Exit(3);  // the reader went away
        }
        rest.remove_prefix(static_cast<size_t>(n));
    }
}

void record(const std::string& line) {
    int fd = ::open((home + "/received").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        std::string text = line + "\n";
        (void)!::write(fd, text.data(), text.size());
        ::close(fd);
    }
}

// One line from stdin, recorded; false at end of input.
bool readLine(std::string& line) {
    for (;;) {
        auto feed = pending.find('\n');
        if (feed != std::string::npos) {
            line = pending.substr(0, feed);
            pending.erase(0, feed + 1);
            record(line);
            return true;
        }
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        pending.append(chunk, static_cast<size_t>(n));
    }
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void writeLaunchInfo(int argc, char** argv) {
    json info;
    info["argv"] = json::array();
    for (int i = 0; i < argc; ++i) {
        info["argv"].push_back(argv[i]);
    }
    info["pid"] = ::getpid();
    char cwd[4096];
    info["cwd"] = ::getcwd(cwd, sizeof cwd) ? cwd : "";
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
    char target[4096];
    ssize_t n = ::readlink("/proc/self/fd/2", target, sizeof target - 1);
    info["stderr"] = n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
    std::ofstream(home + "/launch.json") << info.dump();
}

json serveAnswer(const json& request) {
    const std::string method = request.value("method", "");
    if (method == "initialize") {
        return {{"result", json::object()}};
    }
    if (method == "account/read") {
        return {{"result", json::parse(readFile(
                               home + "/account.json",
                               R"({"account":{"type":"chatgpt","email":"user@example.com"}})"))}};
    }
    if (method == "account/rateLimits/read") {
        const std::string answer = readFile(
            home + "/rate_limits.json",
            R"({"rateLimits":{"limitId":"codex","primary":{"usedPercent":24,"windowDurationMins":300,"resetsAt":1900000000},"secondary":{"usedPercent":39,"windowDurationMins":10080,"resetsAt":1900200000}}})");
        (void)std::rename((home + "/rate_limits.next.json").c_str(),
                          (home + "/rate_limits.json").c_str());
        return {{"result", json::parse(answer)}};
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
            json answer = {{"id", request.is_object() ? request.value("id", json()) : json()},
                           {"result", json::parse(rest)}};
            writeOut(answer.dump() + "\n");
        } else if (verb == "send") {
            writeOut(unescape(rest) + "\n");
        } else if (verb == "part") {
            writeOut(unescape(rest));
        } else if (verb == "flood") {
            std::string chunk(65536, 'x');
            for (long left = std::atol(rest.c_str()); left > 0;
                 left -= static_cast<long>(chunk.size())) {
                writeOut(left >= static_cast<long>(chunk.size())
                             ? chunk
                             : chunk.substr(0, static_cast<size_t>(left)));
            }
        } else if (verb == "sleep") {
            ::usleep(static_cast<useconds_t>(std::atol(rest.c_str()) * 1000));
        } else if (verb == "exit") {
            std::_Exit(std::atoi(rest.c_str()));
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
