#pragma once

#include "command_line.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quotalume::cli {

extern const char* const configHelp;
int runConfig(Arguments& arguments);

// Hands `config set KEY VALUE` to the engine running for this data folder (the tray app or a
// watch), which stores it through its preferences model and takes it up at once, so
// that its next save keeps it; prints what came of it and returns the exit status. nullopt when
// no engine takes it: the command then writes the preferences itself.
std::optional<int> forwardToEngine(const std::string& key, const std::string& value);

}  // namespace quotalume::cli
