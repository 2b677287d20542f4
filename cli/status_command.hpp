#pragma once

#include "command_line.hpp"
#include "reading_view.hpp"

#include <quotalume/codex/codex_configuration.hpp>

#include <optional>
#include <string>

namespace quotalume::cli {

extern const char* const statusHelp;
int runStatus(Arguments& arguments);
// Every source's reading as `view` shows them all: the running engine's, or read here one Codex
// at a time. The exit status.
int showEverySource(const ViewOptions& view, bool fresh, double timeout);
// --timeout's value; a UsageError for one that is no number.
double parseTimeout(const std::string& text);
// Reads the limits once from `source` and prints them as `status` does: the figures on standard
// output, or the failure and what to do about it on standard error. Returns the exit status.
int readLimitsOnce(const CodexConfiguration& source);
// The running engine's reading (after a refresh it makes now, when `fresh`) printed as
// `status` prints it; the exit status, or nothing when no engine answered.
std::optional<int> showEngineReading(bool fresh);

}  // namespace quotalume::cli
