#include "metrics_command.hpp"

#include "status_command.hpp"

#include "metrics_exposition.hpp"

#include <quotalume/codex/codex_configuration.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include <chrono>
#include <iostream>
#include <string_view>
#include <system_error>

namespace quotalume::cli {

const char* const metricsHelp =
    "Usage: quotalume-cli metrics [--fresh] [--timeout SECONDS] [--lang CODE]\n"
    "\n"
    "Prints every source's reading in the Prometheus text format (version 0.0.4), for\n"
    "node_exporter's textfile collector or a script: what each window has used\n"
    "(quotalume_window_used_ratio), when it resets and, while there is a forecast, when it\n"
    "runs out (..._resets_at_timestamp_seconds, ..._runs_out_at_timestamp_seconds), each\n"
    "bucket's blocked state (quotalume_blocked), the last good reading, staleness and\n"
    "credits, and the counters of readings, resets, warnings and deliveries the engine keeps\n"
    "in its state. Labels: account (the source's label), bucket (its id) and window (5h, 7d,\n"
    "30d, ...). While the tray application or a watch runs, its reading is printed and no\n"
    "Codex is started; otherwise every source is read once, with the counters the engine\n"
    "saved.\n"
    "\n"
    "The engine itself can keep a file up to date after every reading (config set\n"
    "metrics.textfile /path/quotalume.prom) and serve GET /metrics (config set\n"
    "metrics.listen 127.0.0.1:9464).\n"
    "\n"
    "  --fresh             have the running engine read now, and print that reading\n"
    "  --timeout SECONDS   time limit of each exchange with Codex (default 25)\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, ...)\n"
    "  -h, --help          show this help\n"
    "\n"
    "Exit status: 0 when every source was read, 1 when one could not be (its series are\n"
    "then missing or stale), 2 on a usage error.\n";

int showMetrics(EngineReading reading, const ViewOptions& view) {
    if (reading.source == "codex") {
        try {
            const std::filesystem::path kept = WebhookConfigurationStore::defaultDirectory();
            reading.forecastFrom(kept, std::chrono::system_clock::now());
            reading.countedFrom(kept);
        } catch (const std::system_error&) {
            // No data folder: nothing counted, no forecast.
        }
    }
    const std::string_view firstLabel = view.saved.sources.firstLabel;
    std::cout << metricsExposition(reading, firstLabel) << std::flush;
    bool failed = false;
    for (const EngineReading* each : reading.sources()) {
        if (each->error) {
            std::cerr << "quotalume-cli: " << each->labelOr(firstLabel) << ": "
                      << each->error->localized() << "\n";
            failed = true;
        }
    }
    return failed ? ExitStatus::failure : success;
}

int runMetrics(Arguments& arguments) {
    ViewOptions view;
    view.metrics = true;
    view.saved = SavedSources::load();
    const bool fresh = arguments.flag("--fresh");
    double timeout = CodexConfiguration::defaultTimeout;
    if (auto given = arguments.value("--timeout")) {
        timeout = parseTimeout(*given);
    }
    arguments.finish();
    return showEverySource(view, fresh, timeout);
}

}  // namespace quotalume::cli
