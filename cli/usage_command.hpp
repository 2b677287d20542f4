#pragma once

#include "command_line.hpp"

namespace quotalume::cli {

extern const char* const usageHelp;
int runUsage(Arguments& arguments);

}  // namespace quotalume::cli
