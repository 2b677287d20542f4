#include "watch_command.hpp"

#ifdef QUOTALUME_WATCH_ENGINE
#include "core_ports.hpp"
#include "linux/stop_signals.hpp"
#include "source_override.hpp"
#include "watch_session.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/webhook_configuration_store.hpp>

#include <unistd.h>

#include <cstdlib>
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
    try {
        options.dataDirectory = WebhookConfigurationStore::defaultDirectory();
        options.preferences = PreferencesStore::standard();
    } catch (const std::system_error& error) {
        if (!demo) {
            std::fprintf(stderr, "quotalume-cli: cannot find the data folder: %s\n", error.what());
            return failure;
        }
        // Demonstration reads and writes nothing: no home is needed.
        options.preferences = std::make_shared<MemoryPreferencesStore>();
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    FolderEngineGuard engine(options.dataDirectory, {::getpid(), "quotalume-cli watch",
                                                     runtime != nullptr ? runtime : ""});
    if (!demo) {
        // Only one engine: a watch that cannot be it has nothing to do.
        if (auto refusal = engine.claim()) {
            std::cerr << "quotalume-cli: " << refusal->localized() << "\n";
            return failure;
        }
    }
    options.engine = &engine;
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
