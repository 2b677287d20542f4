#include "state_keeper.hpp"

#include <algorithm>
#include <exception>
#include <system_error>

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
        persistenceWarning_ = std::move(loaded.warning);
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
    persistenceWarning_ = std::move(loaded.warning);
    unreadableInPlace_ = loaded.unreadable;
    keepUnreadableAside();
    // A holder that ended while the server had a notification cannot know whether it was shown.
    auto unconfirmed = [](Delivery& record) {
        if (record.localStatus == LocalizedMessage("notification.submitting")) {
            record.localStatus = LocalizedMessage("notification.unconfirmed");
        }
    };
    std::for_each(state_.records.begin(), state_.records.end(), unconfirmed);
    std::for_each(state_.warnings.begin(), state_.warnings.end(), unconfirmed);
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
    if (LoadedState loaded = store_.load(); !loaded.unreadable) {
        state_.records = std::move(loaded.state.records);
        state_.warnings = std::move(loaded.state.warnings);
        state_.otherRecords = std::move(loaded.state.otherRecords);
        state_.otherWarnings = std::move(loaded.state.otherWarnings);
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
        store_.save(state_);
        // The reading only: records are written whenever they change, and a second copy of the
        // whole history would double what the engine keeps.
        saved_.emplace();
        saved_->detector = state_.detector;
        saved_->snapshot = state_.snapshot;
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
    if (!recorded && stateSaved_ && saved_ && saved_->restartsAlike(state_) &&
        clock_.now() - savedAt_ < savedReadingAge) {
        return;
    }
    persist();
}

void StateKeeper::flush() {
    if (!stateSaved_ ||
        (saved_ && (saved_->snapshot != state_.snapshot || saved_->detector != state_.detector))) {
        persist();
    }
}

}  // namespace quotalume
