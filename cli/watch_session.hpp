#pragma once

#include "reading_view.hpp"

#include <quotalume/preferences/preferences_store.hpp>

#include <filesystem>
#include <memory>

namespace quotalume {
class FolderEngineGuard;
class StopSignals;
}  // namespace quotalume

namespace quotalume::cli {

struct WatchOptions {
    ViewOptions view;
    bool demo = false;
    std::shared_ptr<PreferencesStore> preferences;  // the standard ones, or an overlay
    std::filesystem::path dataDirectory;            // state.json and webhook.json
    // Held already unless in demonstration or `follow`; claimed again when the engine we
    // follow goes away.
    FolderEngineGuard* engine = nullptr;
    bool follow = false;           // another engine holds it: print what it serves
    std::filesystem::path socket;  // where we serve others once the engine; empty: nowhere
};

// Runs the tray application's engine, with the same services behind its ports, on a Qt core
// event loop until SIGINT, SIGTERM or SIGHUP, printing a line whenever what it shows changes.
// While another engine runs it follows that one instead, printing what it serves, and becomes
// the engine when that one goes. SIGUSR1 reads the limits now.
// Returns once stopped, every worker joined and every Codex child killed: 0 after a signal and 1
// when standard output went away. `stop` is made by the caller before anything else, so a signal
// during start-up also ends the loop as soon as it runs, with status 0.
int runWatchSession(const WatchOptions& options, StopSignals& stop);

}  // namespace quotalume::cli
