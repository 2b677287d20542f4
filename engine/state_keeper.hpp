#pragma once

#include "monitor_state.hpp"
#include "ports.hpp"

#include <quotalume/l10n/localized_message.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quotalume {

// The engine's state room: the history and the latest reading, the state file they are kept in,
// and the engine lock that makes them ours to write. Without the lock it only reads what the
// holder keeps; with it, it writes only what a restart would miss.
class StateKeeper {
public:
    enum class Claim { refused, held, takenNow };

    StateKeeper(const std::filesystem::path& dataDirectory, FileOperations operations,
                EngineGuard& engine, WallClock& clock, bool demo);

    // The first source's account; the others' apart, by fingerprint.
    MonitorState& state() { return state_; }
    const MonitorState& state() const { return state_; }
    std::vector<AccountState>& accounts() { return accounts_; }
    const std::vector<AccountState>& accounts() const { return accounts_; }
    MonitorState* account(std::string_view fingerprint);
    const MonitorState* account(std::string_view fingerprint) const;
    // The account last read under this label, if one was.
    const AccountState* labelled(std::string_view label) const;
    // The account's state, kept from now on under `label`; a new one starts empty. The oldest
    // beyond AccountState::maximumKept go, but never one that still owes an announcement.
    MonitorState& adopt(const std::string& fingerprint, const std::string& label);
    // With several sources, the first reads another account: the one it read is kept apart
    // under `label`, and the new one's state comes back if it was kept.
    void exchangeFirst(const std::string& fingerprint, const std::string& label);
    // The first source was replaced: its account is kept apart until it is read again.
    void setAsideFirst(const std::string& label);
    // Its source was renamed: the account is shown under `label`, and no other is.
    void relabel(std::string_view fingerprint, const std::string& label);
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
    bool savedAlike() const;
    void makeRoom();
    bool keepUnreadableAside();

    StateStore store_;
    EngineGuard& engine_;
    WallClock& clock_;
    const bool demo_;
    MonitorState state_;
    std::vector<AccountState> accounts_;
    // The readings the state file holds, without records: the first source's and the others'.
    std::optional<MonitorState> saved_;
    std::vector<AccountState> savedAccounts_;
    Date savedAt_;
    bool stateSaved_ = true;
    bool engineHeld_ = false;
    bool unreadableInPlace_ = false;  // a state file nobody could read, not yet kept aside
    std::optional<LocalizedMessage> persistenceWarning_;
    std::optional<LocalizedMessage> stateNotice_;
    std::optional<LocalizedMessage> engineWarning_;
};

}  // namespace quotalume
