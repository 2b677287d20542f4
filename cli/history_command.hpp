#pragma once

#include "command_line.hpp"

namespace quotalume::cli {

extern const char* const historyHelp;
int runHistory(Arguments& arguments);

}  // namespace quotalume::cli
