#include "watch_command.hpp"

#ifdef QUOTALUME_WATCH_ENGINE
#include "monitor_state.hpp"
#include "source_override.hpp"
#include "stop_signals.hpp"
#include "watch_session.hpp"

#include <quotalume/engine_lock.hpp>
#include <quotalume/l10n.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <iostream>
#include <system_error>
#endif

#include <cstdio>
#include <optional>
#include <string>

namespace quotalume::cli {

const char* const watchHelp =
    "Usage: quotalume-cli watch [--waybar] [--demo] [--codex PATH]\n"
    "                           [--lang CODE]\n"
    "\n"
    "Keeps monitoring in the foreground, exactly as the tray application does: reads the limits\n"
    "on its schedule, records each reset in the history and announces it by notification and\n"
    "webhook, with the same settings, history and webhook configuration. Prints a line at once\n"
    "whenever what it shows changes, for a status bar that keeps it running.\n"
    "\n"
    "  --waybar            one JSON object per line for a waybar custom module (\"return-type\":\n"
    "                      \"json\"), in the form status --waybar prints\n"
    "  --demo              show made-up demonstration data; nothing is read, saved or sent\n"
    "  --codex PATH        the codex executable for this run, not saved (without it, the one\n"
    "                      saved in Quotalume's Settings › Source). The Codex home is always\n"
    "                      the saved one (or $CODEX_HOME): another account's readings would\n"
    "                      replace the shared reset history.\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "One engine runs at a time: watch does not start while the tray application runs, nor the\n"
    "tray application while a watch runs (--demo runs beside either). SIGINT, SIGTERM and\n"
    "SIGHUP stop it, and a Codex it has started is ended with it.\n"
    "\n"
    "Exit status: 0 when stopped by a signal, 1 when another engine runs or the output is\n"
    "closed, 2 on a usage error or when this build has no watch.\n";

int runWatch(Arguments& arguments) {
    const bool waybar = arguments.flag("--waybar");
    const bool demo = arguments.flag("--demo");
    std::optional<std::string> executable = arguments.value("--codex");
    arguments.finish();
#ifndef QUOTALUME_WATCH_ENGINE
    (void)waybar;
    (void)demo;
    std::fputs("quotalume-cli: watch is not available in this build (it was built without Qt)\n",
               stderr);
    return usage;
#else
    std::optional<StopSignals> stop;
    try {
        stop.emplace();
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "quotalume-cli: cannot watch for stop signals: %s\n", error.what());
        return failure;
    }
    WatchOptions options{.waybar = waybar, .demo = demo};
    std::optional<EngineLock> engine;
    try {
        options.dataDirectory = WebhookConfigurationStore::defaultDirectory();
        options.preferences = PreferencesStore::standard();
        if (!demo) {
            engine = EngineLock::acquire(options.dataDirectory);
        }
    } catch (const std::system_error& error) {
        if (!demo) {
            std::fprintf(stderr, "quotalume-cli: cannot lock the data folder: %s\n", error.what());
            return failure;
        }
        // Demonstration reads and writes nothing: no home is needed.
        options.preferences = std::make_shared<MemoryPreferencesStore>();
    }
    if (!demo && !engine) {
        std::cerr << "quotalume-cli: " << L10n::render("cli.engine_busy") << "\n";
        return failure;
    }
    if (engine) {
        // A process killed while saving leaves its temporary; nobody else removes it.
        StateStore(options.dataDirectory).removeLeftovers();
    }
    if (executable) {
        // The engine reads its source from the settings; it is given them with this run's
        // source in place, and nothing it might save keeps it.
        options.preferences = std::make_shared<SourceOverride>(std::move(options.preferences),
                                                               std::move(*executable));
    }
    runWatchSession(options, *stop);
#endif
}

}  // namespace quotalume::cli
