#include "state_keeper.hpp"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace quotalume {
namespace {

// A reading that changes nothing a restart needs is still written this often, so the stored
// one is never older.
constexpr Duration savedReadingAge = std::chrono::minutes(15);

}  // namespace

StateKeeper::StateKeeper(const std::filesystem::path& dataDirectory, FileOperations operations,
                         EngineGuard& engine, WallClock& clock, bool demo)
    : store_(dataDirectory, std::move(operations)), engine_(engine), clock_(clock), demo_(demo) {
    if (demo_) {
        return;  // a fresh state, never saved
    }
    if (claim() == Claim::refused) {
        // Only shown: an unreadable file is the holder's to keep aside, not ours.
        LoadedState loaded = store_.load();
        state_ = std::move(loaded.state);
        accounts_ = std::move(loaded.accounts);
        persistenceWarning_ = std::move(loaded.warning);
    }
}

MonitorState* StateKeeper::account(std::string_view fingerprint) {
    return const_cast<MonitorState*>(std::as_const(*this).account(fingerprint));
}

const MonitorState* StateKeeper::account(std::string_view fingerprint) const {
    const auto found = std::find_if(accounts_.begin(), accounts_.end(), [&](const auto& account) {
        return account.fingerprint == fingerprint;
    });
    return found == accounts_.end() ? nullptr : &found->state;
}

const AccountState* StateKeeper::labelled(std::string_view label) const {
    const auto found = std::find_if(accounts_.begin(), accounts_.end(),
                                    [&](const auto& account) { return account.label == label; });
    return found == accounts_.end() ? nullptr : &*found;
}

MonitorState& StateKeeper::adopt(const std::string& fingerprint, const std::string& label) {
    if (account(fingerprint) == nullptr) {
        makeRoom();
        MonitorState fresh;
        fresh.accountSince = clock_.now();
        accounts_.push_back({fingerprint, label, std::move(fresh)});
    }
    relabel(fingerprint, label);
    return *account(fingerprint);
}

void StateKeeper::makeRoom() {
    // The one read longest ago goes, an unnamed one (its source gone or moved on) first; one
    // that still owes an announcement never does, even if that keeps one over.
    while (accounts_.size() >= AccountState::maximumKept) {
        const auto rank = [](const AccountState& account) {
            return std::pair(!account.label.empty(),
                             account.state.snapshot ? account.state.snapshot->observedAt : Date());
        };
        auto oldest = accounts_.end();
        for (auto it = accounts_.begin(); it != accounts_.end(); ++it) {
            if (!it->state.owes() && (oldest == accounts_.end() || rank(*it) < rank(*oldest))) {
                oldest = it;
            }
        }
        if (oldest == accounts_.end()) {
            return;
        }
        accounts_.erase(oldest);
    }
}

void StateKeeper::setAsideFirst(const std::string& label) {
    if (!state_.snapshot) {
        return;
    }
    const std::string fingerprint = state_.snapshot->accountFingerprint;
    std::erase_if(accounts_,
                  [&](const AccountState& kept) { return kept.fingerprint == fingerprint; });
    makeRoom();
    accounts_.push_back({fingerprint, label, std::move(state_)});
    relabel(fingerprint, label);
    state_ = MonitorState();
    state_.accountSince = clock_.now();
}

void StateKeeper::exchangeFirst(const std::string& fingerprint, const std::string& label) {
    if (state_.snapshot && state_.snapshot->accountFingerprint == fingerprint) {
        return;
    }
    setAsideFirst(label);
    const auto kept = std::find_if(accounts_.begin(), accounts_.end(), [&](const auto& account) {
        return account.fingerprint == fingerprint;
    });
    if (kept == accounts_.end()) {
        if (!state_.accountSince) {
            state_.accountSince = clock_.now();
        }
        return;
    }
    // A state without a reading may still owe announcements (a source replaced with one
    // source): they go on with the account that comes back.
    MonitorState leftover = std::move(state_);
    state_ = std::move(kept->state);
    accounts_.erase(kept);
    const auto carry = [](auto& into, auto& from) {
        for (auto& record : from) {
            if (record.owed()) {
                into.push_back(std::move(record));
            }
        }
    };
    carry(state_.records, leftover.records);
    carry(state_.otherRecords, leftover.otherRecords);
    carry(state_.warnings, leftover.warnings);
    carry(state_.otherWarnings, leftover.otherWarnings);
}

void StateKeeper::relabel(std::string_view fingerprint, const std::string& label) {
    // A label names one account: another read under it before is its source's no more.
    for (AccountState& account : accounts_) {
        if (account.fingerprint == fingerprint) {
            account.label = label;
        } else if (account.label == label) {
            account.label.clear();
        }
    }
}

StateKeeper::Claim StateKeeper::claim() {
    if (demo_) {
        return Claim::refused;
    }
    if (engineHeld_) {
        (void)engine_.claim();  // held until we go; this only puts a deleted lock file back
        return Claim::held;
    }
    engineWarning_ = engine_.claim();
    if (engineWarning_) {
        return Claim::refused;
    }
    engineHeld_ = true;
    takeOver();
    return Claim::takenNow;
}

void StateKeeper::takeOver() {
    // Its unfinished saves go, its history is read afresh (it may have changed while we only
    // watched).
    store_.removeLeftovers();
    LoadedState loaded = store_.load();
    state_ = std::move(loaded.state);
    accounts_ = std::move(loaded.accounts);
    persistenceWarning_ = std::move(loaded.warning);
    unreadableInPlace_ = loaded.unreadable;
    keepUnreadableAside();
    // A holder that ended while the server had a notification cannot know whether it was shown.
    auto unconfirmed = [](Delivery& record) {
        if (record.localStatus == LocalizedMessage("notification.submitting")) {
            record.localStatus = LocalizedMessage("notification.unconfirmed");
        }
    };
    state_.eachDelivery(unconfirmed);
    for (AccountState& account : accounts_) {
        account.state.eachDelivery(unconfirmed);
    }
}

bool StateKeeper::keepUnreadableAside() {
    if (!unreadableInPlace_) {
        return true;
    }
    try {
        if (auto kept = store_.keepUnreadable()) {
            stateNotice_ = LocalizedMessage("error.state_kept", {kept->string()});
        }
        unreadableInPlace_ = false;
        persistenceWarning_.reset();
        return true;
    } catch (const std::system_error& error) {
        // Never saved over: until it can be moved, nothing is recorded in its place.
        persistenceWarning_ = LocalizedMessage(
            "error.state_stuck", {store_.url().string(), std::to_string(error.code().value())});
        return false;
    }
}

void StateKeeper::readHolders() {
    const auto history = [](MonitorState& into, MonitorState& from) {
        into.records = std::move(from.records);
        into.warnings = std::move(from.warnings);
        into.otherRecords = std::move(from.otherRecords);
        into.otherWarnings = std::move(from.otherWarnings);
    };
    if (LoadedState loaded = store_.load(); !loaded.unreadable) {
        history(state_, loaded.state);
        for (AccountState& holders : loaded.accounts) {
            if (MonitorState* shown = account(holders.fingerprint)) {
                history(*shown, holders.state);
            } else {
                accounts_.push_back(std::move(holders));  // read by the holder: its label
            }
        }
    }
}

void StateKeeper::dropSettled() {
    // Warnings stay: they say what was warned of already; another account's match this one's
    // only for the very same reset time.
    const auto settled = [](const EventRecord& record) {
        return !record.localPending && !record.webhookPending;
    };
    std::erase_if(state_.records, settled);
    std::erase_if(state_.otherRecords, settled);
    state_.creditUses.clear();  // the other account's banked resets
    state_.accountSince = clock_.now();
}

void StateKeeper::startAfresh() {
    MonitorState fresh;
    fresh.counters = state_.counters;  // the source's series go on
    fresh.records = std::move(state_.records);
    fresh.warnings = std::move(state_.warnings);
    fresh.otherRecords = std::move(state_.otherRecords);
    fresh.otherWarnings = std::move(state_.otherWarnings);
    state_ = std::move(fresh);
    dropSettled();
    persist();
}

void StateKeeper::persist() {
    if (demo_ || !engineHeld_) {
        return;
    }
    if (!keepUnreadableAside()) {
        stateSaved_ = false;
        return;
    }
    try {
        store_.save(state_, accounts_);
        // The readings and counts only: records are written whenever they change, and a second
        // copy of the whole history would double what the engine keeps.
        const auto reading = [](const MonitorState& state) {
            MonitorState kept;
            kept.detector = state.detector;
            kept.snapshot = state.snapshot;
            kept.counters = state.counters;
            return kept;
        };
        saved_ = reading(state_);
        savedAccounts_.clear();
        for (const AccountState& account : accounts_) {
            savedAccounts_.push_back({account.fingerprint, account.label, reading(account.state)});
        }
        savedAt_ = clock_.now();
        stateSaved_ = true;
        persistenceWarning_.reset();
    } catch (const std::exception&) {
        stateSaved_ = false;
        persistenceWarning_ = LocalizedMessage("error.state_write");
    }
}

void StateKeeper::persistReading(bool recorded) {
    // Not worth a write (and an fsync) every few seconds when only its time would change on
    // disk.
    if (!recorded && stateSaved_ && savedAlike() && clock_.now() - savedAt_ < savedReadingAge) {
        return;
    }
    persist();
}

bool StateKeeper::savedAlike() const {
    if (!saved_ || !saved_->restartsAlike(state_) || savedAccounts_.size() != accounts_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < accounts_.size(); ++i) {
        if (savedAccounts_[i].fingerprint != accounts_[i].fingerprint ||
            savedAccounts_[i].label != accounts_[i].label ||
            !savedAccounts_[i].state.restartsAlike(accounts_[i].state)) {
            return false;
        }
    }
    return true;
}

void StateKeeper::flush() {
    const auto differs = [](const MonitorState& saved, const MonitorState& state) {
        return saved.snapshot != state.snapshot || saved.detector != state.detector ||
               saved.counters != state.counters;
    };
    bool changed = !stateSaved_ || (saved_ && differs(*saved_, state_)) ||
                   savedAccounts_.size() != accounts_.size();
    for (std::size_t i = 0; !changed && i < accounts_.size(); ++i) {
        changed = differs(savedAccounts_[i].state, accounts_[i].state) ||
                  savedAccounts_[i].label != accounts_[i].label;
    }
    if (changed) {
        persist();
    }
}

}  // namespace quotalume
