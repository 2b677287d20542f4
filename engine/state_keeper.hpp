#pragma once

#include "monitor_state.hpp"
#include "ports.hpp"

#include <quotalume/l10n/localized_message.hpp>

#include <filesystem>
#include <optional>

namespace quotalume {

// The engine's state room: the history and the latest reading, the state file they are kept in,
// and the engine lock that makes them ours to write. Without the lock it only reads what the
// holder keeps; with it, it writes only what a restart would miss.
class StateKeeper {
public:
    enum class Claim { refused, held, takenNow };

    StateKeeper(const std::filesystem::path& dataDirectory, FileOperations operations,
                EngineGuard& engine, WallClock& clock, bool demo);

    MonitorState& state() { return state_; }
    const MonitorState& state() const { return state_; }
    bool holdsEngine() const { return engineHeld_; }
    // Whether the state as it stands is on disk.
    bool saved() const { return stateSaved_; }

    // Asks for the engine lock unless it is held; when held, only puts a deleted lock file back.
    // On taking it, what an earlier holder left becomes ours: read afresh, an unreadable file
    // kept aside, a notification it was submitting marked unconfirmed.
    Claim claim();
    // The holder's history as it stands, for a view; an unreadable one is the holder's to keep
    // aside, so it leaves what is shown as it was.
    void readHolders();
    // The history of one account goes when another's begins, but not what it still owes.
    void dropSettled();
    // So does one source's: a fresh state, saved.
    void startAfresh();
    // Writes the state (the holder only); saved() says whether it is on disk.
    void persist();
    // A reading that changes nothing a restart needs is written only now and then.
    void persistReading(bool recorded);
    // A last try if the disk refused the state, and the latest reading if one was skipped.
    void flush();

    // A history that cannot be saved or read; where an unreadable one was kept; why the lock is
    // not ours.
    const std::optional<LocalizedMessage>& persistenceWarning() const {
        return persistenceWarning_;
    }
    const std::optional<LocalizedMessage>& stateNotice() const { return stateNotice_; }
    const std::optional<LocalizedMessage>& engineWarning() const { return engineWarning_; }

private:
    void takeOver();
    bool keepUnreadableAside();

    StateStore store_;
    EngineGuard& engine_;
    WallClock& clock_;
    const bool demo_;
    MonitorState state_;
    std::optional<MonitorState> saved_;  // the reading the state file holds, without records
    Date savedAt_;
    bool stateSaved_ = true;
    bool engineHeld_ = false;
    bool unreadableInPlace_ = false;  // a state file nobody could read, not yet kept aside
    std::optional<LocalizedMessage> persistenceWarning_;
    std::optional<LocalizedMessage> stateNotice_;
    std::optional<LocalizedMessage> engineWarning_;
};

}  // namespace quotalume
