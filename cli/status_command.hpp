#pragma once

#include "command_line.hpp"

#include <quotalume/codex/codex_configuration.hpp>

#include <optional>

namespace quotalume::cli {

extern const char* const statusHelp;
extern const char* const metricsHelp;
int runStatus(Arguments& arguments);
// Every source's reading in Prometheus' text format, from the engine or read here.
int runMetrics(Arguments& arguments);
// Reads the limits once from `source` and prints them as `status` does: the figures on standard
// output, or the failure and what to do about it on standard error. Returns the exit status.
int readLimitsOnce(const CodexConfiguration& source);
// The running engine's reading (after a refresh it makes now, when `fresh`) printed as
// `status` prints it; the exit status, or nothing when no engine answered.
std::optional<int> showEngineReading(bool fresh);

}  // namespace quotalume::cli
