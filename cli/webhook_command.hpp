#pragma once

#include "command_line.hpp"

namespace quotalume::cli {

extern const char* const webhookHelp;
// `arguments` follow the word "webhook": the subcommand ("test") and its options.
int runWebhook(Arguments& arguments);

}  // namespace quotalume::cli
