#pragma once

#include <quotalume/preferences_store.hpp>

#include <filesystem>
#include <memory>

namespace quotalume {
class EngineGuard;
class StopSignals;
}  // namespace quotalume

namespace quotalume::cli {

struct WatchOptions {
    bool waybar = false;
    bool demo = false;
    std::shared_ptr<PreferencesStore> preferences;  // the standard ones, or an overlay
    std::filesystem::path dataDirectory;            // state.json and webhook.json
    EngineGuard* engine = nullptr;                  // held already, unless in demonstration
};

// Runs the tray application's engine, with the same services behind its ports, on a Qt core
// event loop until SIGINT, SIGTERM or SIGHUP, printing a line whenever what it shows changes.
// Never returns: once stopped, every Codex child is killed and the process exits, 0 after a
// signal and 1 when standard output went away. Detached fetches may still run; they must not
// see static destructors.
// `stop` is made by the caller before anything else, so a signal during start-up also ends the
// loop as soon as it runs, with status 0.
[[noreturn]] void runWatchSession(const WatchOptions& options, StopSignals& stop);

}  // namespace quotalume::cli
