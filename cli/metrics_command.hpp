#pragma once

#include "command_line.hpp"
#include "reading_view.hpp"

#include <engine_reading.hpp>

namespace quotalume::cli {

extern const char* const metricsHelp;
// Every source's reading in Prometheus' text format, from the engine or read here.
int runMetrics(Arguments& arguments);
// Prints `reading` (every source) as metrics; one read here gets the forecasts and counters the
// engine kept beside it. Failures go to standard error by label; the exit status.
int showMetrics(EngineReading reading, const ViewOptions& view);

}  // namespace quotalume::cli
