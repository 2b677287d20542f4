#include "command_line.hpp"
#include "status_command.hpp"

#include <cstdio>
#include <cstring>

namespace quotalume::cli {

bool Arguments::flag(const std::string& name) {
    for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
        if (*it == name) {
            arguments_.erase(it);
            return true;
        }
    }
    return false;
}

std::optional<std::string> Arguments::value(const std::string& name) {
    for (auto it = arguments_.begin(); it != arguments_.end(); ++it) {
        if (*it == name) {
            if (std::next(it) == arguments_.end()) {
                throw UsageError(name + " needs a value");
            }
            std::string result = *std::next(it);
            arguments_.erase(it, it + 2);
            return result;
        }
        if (it->starts_with(name + "=")) {
            std::string result = it->substr(name.size() + 1);
            arguments_.erase(it);
            return result;
        }
    }
    return std::nullopt;
}

void Arguments::finish() const {
    if (!arguments_.empty()) {
        throw UsageError("unknown argument: " + arguments_.front());
    }
}

namespace {

constexpr const char* mainHelp =
    "Usage: quotalume-cli COMMAND [OPTIONS]\n"
    "\n"
    "Reads the usage limits of your Codex account from the locally installed codex.\n"
    "\n"
    "Commands:\n"
    "  status     read the limits once and print them\n"
    "\n"
    "Run 'quotalume-cli COMMAND --help' for the options of a command.\n";

}  // namespace
}  // namespace quotalume::cli

int main(int argc, char** argv) {
    using namespace quotalume::cli;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        std::fputs(mainHelp, stderr);
        return usage;
    }
    const std::string command = arguments.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(mainHelp, stdout);
        return success;
    }
    Arguments options(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    try {
        if (command == "status") {
            if (options.flag("--help") || options.flag("-h")) {
                std::fputs(statusHelp, stdout);
                return success;
            }
            return runStatus(options);
        }
        throw UsageError("unknown command: " + command);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "quotalume-cli: %s\nTry 'quotalume-cli --help'.\n", error.what());
        return usage;
    }
}
