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
    for (AccountState& account : accounts_) {
        if (account.label == label && account.fingerprint != fingerprint) {
            account.label.clear();  // its source reads another account now
        }
    }
    if (MonitorState* known = account(fingerprint)) {
        std::find_if(accounts_.begin(), accounts_.end(), [&](const auto& account) {
            return account.fingerprint == fingerprint;
        })->label = label;
        return *known;
    }
    while (accounts_.size() >= AccountState::maximumKept) {
        auto oldest = accounts_.end();
        for (auto it = accounts_.begin(); it != accounts_.end(); ++it) {
            const auto seen = [](const AccountState& account) {
                return account.state.snapshot ? account.state.snapshot->observedAt : Date();
            };
            if (!it->state.owes() && (oldest == accounts_.end() || seen(*it) < seen(*oldest))) {
                oldest = it;
            }
        }
        if (oldest == accounts_.end()) {
            break;  // every one still owes: kept, one over
        }
        accounts_.erase(oldest);
    }
    MonitorState fresh;
    fresh.accountSince = clock_.now();
    accounts_.push_back({fingerprint, label, std::move(fresh)});
    return accounts_.back().state;
}

void StateKeeper::setAsideFirst(const std::string& label) {
    if (!state_.snapshot) {
        return;
    }
    const std::string fingerprint = state_.snapshot->accountFingerprint;
    std::erase_if(accounts_,
                  [&](const AccountState& kept) { return kept.fingerprint == fingerprint; });
    accounts_.push_back({fingerprint, label, std::move(state_)});
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
    if (kept != accounts_.end()) {
        state_ = std::move(kept->state);
        accounts_.erase(kept);
    } else if (!state_.accountSince) {
        state_.accountSince = clock_.now();
    }
}

void StateKeeper::relabel(std::string_view fingerprint, const std::string& label) {
    for (AccountState& account : accounts_) {
        if (account.fingerprint == fingerprint) {
            account.label = label;
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
        // The readings only: records are written whenever they change, and a second copy of
        // the whole history would double what the engine keeps.
        const auto reading = [](const MonitorState& state) {
            MonitorState kept;
            kept.detector = state.detector;
            kept.snapshot = state.snapshot;
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
        return saved.snapshot != state.snapshot || saved.detector != state.detector;
    };
    bool changed = !stateSaved_ || (saved_ && differs(*saved_, state_)) ||
                   savedAccounts_.size() != accounts_.size();
    for (std::size_t i = 0; !changed && i < accounts_.size(); ++i) {
        changed = differs(savedAccounts_[i].state, accounts_[i].state);
    }
    if (changed) {
        persist();
    }
}

}  // namespace quotalume
