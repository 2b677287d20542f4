#include "watch_command.hpp"

#include "reading_view.hpp"

#ifdef QUOTALUME_WATCH_ENGINE
#include "core_ports.hpp"
#include "linux/stop_signals.hpp"
#include "source_override.hpp"
#include "watch_session.hpp"

#include <quotalume/coordination/engine_channel.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

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
    "Usage: quotalume-cli watch [--json | --waybar | --i3blocks] [--short | --format TEMPLATE]\n"
    "                           [--account LABEL] [--demo] [--codex PATH] [--lang CODE]\n"
    "\n"
    "Keeps monitoring in the foreground, exactly as the tray application does: reads the limits\n"
    "on its schedule, records each reset in the history and announces it by notification and\n"
    "webhook, with the same settings, history and webhook configuration. Prints a line at once\n"
    "whenever what it shows changes, for a status bar that keeps it running.\n"
    "\n"
    "While the tray application or another watch runs, it follows that one instead: it prints\n"
    "what that one reads, starting no Codex and announcing nothing, and carries on as the\n"
    "engine when that one goes away.\n"
    "\n"
    "  --json              the version-1 record of status --json, one object per line\n"
    "  --waybar            one JSON object per line for a waybar custom module (\"return-type\":\n"
    "                      \"json\"), in the form status --waybar prints (class \"stale\"\n"
    "                      beside the level's while the figures are stale)\n"
    "  --i3blocks          one line of full text per change, for i3blocks' interval=persist\n"
    "  --short             \"5H 88 · 7D 66\", for narrow bars\n"
    "  --format TEMPLATE   each line from a template of the record's members (see status)\n"
    "  --account LABEL     only the source with this label, or closest for the one closest to\n"
    "                      running out. Without it, a line for every source, each after its\n"
    "                      label when there is more than one (--json: each record has its\n"
    "                      \"label\"); --waybar and --i3blocks show the first source.\n"
    "  --demo              show made-up demonstration data; nothing is read, saved or sent\n"
    "  --codex PATH        the codex executable for this run, not saved (without it, the one\n"
    "                      saved in Quotalume's Settings › Source). The Codex home is always\n"
    "                      the saved one (or $CODEX_HOME): another account's readings would\n"
    "                      replace the shared reset history.\n"
    "  --lang CODE         interface language for this run (en, de, fr, ja, zh-Hans, …)\n"
    "  -h, --help          show this help\n"
    "\n"
    "SIGUSR1 reads the limits now (pkill -u \"$USER\" -USR1 -x quotalume-cli). SIGINT,\n"
    "SIGTERM and SIGHUP stop it, and a Codex it has started is ended with it.\n"
    "\n"
    "Exit status: 0 when stopped by a signal, 1 when the engine lock cannot be taken (0 with\n"
    "--waybar and --i3blocks, which print the error as a module) or the output is closed, 2 on\n"
    "a usage error or when this build has no watch.\n";

int runWatch(Arguments& arguments) {
    const ViewOptions view = ViewOptions::read(arguments);
    const bool demo = arguments.flag("--demo");
    std::optional<std::string> executable = arguments.value("--codex");
    arguments.finish();
#ifndef QUOTALUME_WATCH_ENGINE
    (void)view;
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
    WatchOptions options{.view = view, .demo = demo};
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
    if (!demo) {
        try {
            options.socket = engine_socket::pathFor(::getpid());
        } catch (const std::exception& error) {
            // Monitoring goes on; only other views cannot follow us.
            std::fprintf(stderr, "quotalume-cli: other views cannot follow this watch: %s\n",
                         error.what());
        }
    }
    FolderEngineGuard engine(options.dataDirectory,
                             {::getpid(), "quotalume-cli watch", runtime != nullptr ? runtime : "",
                              options.socket.string()});
    if (!demo) {
        if (auto refusal = engine.claim()) {
            if (!engine.busy()) {
                // No lock at all: a watch that cannot be the engine has nothing to do.
                std::cerr << "quotalume-cli: " << refusal->localized() << "\n";
                if (view.isBar()) {
                    EngineReading failed{.error = *refusal};
                    std::cout << watchLine(failed, std::chrono::system_clock::now(), view)
                              << std::endl;
                    return success;
                }
                return failure;
            }
            options.follow = true;
        }
    }
    options.engine = &engine;
    if (executable) {
        // The engine reads its source from the settings; it is given them with this run's
        // source in place, and nothing it might save keeps it.
        options.preferences = std::make_shared<SourceOverride>(std::move(options.preferences),
                                                               std::move(*executable));
    }
    return runWatchSession(options, *stop);
#endif
}

}  // namespace quotalume::cli
