#pragma once

#include "command_line.hpp"

namespace quotalume::cli {

extern const char* const watchHelp;
// Returns only on a failure to start; a watch that ran ends the process itself.
int runWatch(Arguments& arguments);

}  // namespace quotalume::cli
