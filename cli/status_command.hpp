#pragma once

#include "command_line.hpp"

namespace quotalume::cli {

extern const char* const statusHelp;
int runStatus(Arguments& arguments);

}  // namespace quotalume::cli
