#pragma once

#include "command_line.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quotalume::cli {

extern const char* const configHelp;
int runConfig(Arguments& arguments);

// What a running engine made of a change handed to it.
struct EngineReply {
    int exitStatus;      // as the command's own: success, failure or usage
    std::string output;  // for standard output
    std::string errors;  // for standard error
};

// Hands `config set KEY VALUE` to the engine running for this data folder (the tray app or a
// watch), which applies it to its own preferences with setConfig and takes it up at once.
// nullopt when no engine takes it: the command then writes the preferences itself.
std::optional<EngineReply> forwardToEngine(std::string_view key, std::string_view value);

}  // namespace quotalume::cli
