#include "reading_loop.hpp"

#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/schedule/refresh_schedule.hpp>

#include <algorithm>
#include <chrono>
#include <map>

namespace quotalume {

ReadingLoop::ReadingLoop(Rooms rooms) : rooms_(std::move(rooms)) {
    if (rooms_.source > 0) {
        // Shown from the start as last read, until its first reading says otherwise.
        if (const AccountState* known = rooms_.keeper.labelled(source().label)) {
            account_ = known->fingerprint;
        }
    }
}

AccountSource ReadingLoop::source() const {
    if (rooms_.source > 0) {
        return rooms_.placed;
    }
    const Preferences& chosen = rooms_.preferences.current();
    return {chosen.sources.firstLabel, chosen.settings.codexHome, chosen.settings.codexPath};
}

void ReadingLoop::countFailure() {
    // Counted against the account read last: one never read has nowhere to count.
    StateKeeper& keeper = rooms_.keeper;
    MonitorState* state = rooms_.source == 0 ? &keeper.state() : keeper.account(account_);
    if (keeper.holdsEngine() && state != nullptr && !sameAs_) {
        state->counters.readings.failed += 1;
    }
}

const MonitorState* ReadingLoop::state() const {
    return rooms_.source == 0 ? &rooms_.keeper.state() : rooms_.keeper.account(account_);
}

template <typename Work>
void ReadingLoop::later(Work work) {
    rooms_.loop.post([alive = std::weak_ptr<int>(alive_), work = std::move(work)]() mutable {
        if (!alive.expired()) {
            work();
        }
    });
}

void ReadingLoop::stop() {
    stopped_ = true;  // a reading still running must not arm a new timer
    timer_.reset();
}

void ReadingLoop::sourceChanged() {
    revision_ += 1;
    lastError_.reset();
    later([this] { refresh(); });
}

namespace {

// A light read's banked resets are at most this old; a view opened finds them no older than
// `openedFreshness`.
constexpr auto fullReadPeriod = std::chrono::hours(1);
constexpr auto openedFreshness = std::chrono::minutes(1);

}  // namespace

CodexClient::Depth ReadDepth::next(bool asked, Date now) const {
    return asked || olderThan(fullReadPeriod, now) || lightRefused_ || fullDue_
               ? CodexClient::Depth::full
               : CodexClient::Depth::light;
}

bool ReadDepth::openingWants(Date now) {
    fullDue_ = fullDue_ || olderThan(openedFreshness, now);
    return fullDue_;
}

void ReadDepth::took(const UsageSnapshot& reading, CodexClient::Depth asked, Date now) {
    if (reading.creditDetails) {
        lightRefused_ = lightRefused_ || asked == CodexClient::Depth::light;
        lastFullAt_ = now;
        fullDue_ = false;
    }
}

void ReadingLoop::viewOpened() {
    if (depth_.openingWants(rooms_.clock.now())) {
        refresh();
    }
}

Task ReadingLoop::runRefresh(bool asked) {
    if (isRefreshing_) {
        co_return;
    }
    timer_.reset();
    isRefreshing_ = true;
    const long long revision = revision_;
    rooms_.beforeReading();
    rooms_.published();

    // Awaited through named values throughout: GCC 12 mishandles temporaries that live across
    // a co_await.
    const AccountSource reading = source();
    const CodexClient::Depth asking = depth_.next(asked, rooms_.clock.now());
    auto fetching = fetch({reading.codexPath, reading.codexHome, CodexConfiguration::defaultTimeout,
                           rooms_.source > 0 ? std::optional(reading.label) : std::nullopt},
                          asking);
    FetchResult result = co_await fetching;

    // A result for a source the user has since replaced belongs to nobody.
    bool again = false;
    if (revision_ == revision) {
        if (auto* reading = std::get_if<UsageSnapshot>(&result)) {
            depth_.took(*reading, asking, rooms_.clock.now());
            if (keepCreditDetails(*reading)) {
                take(std::move(*reading), revision);
            }
            again = depth_.fullDue();
        } else {
            failures_ += 1;
            countFailure();
            lastError_ = std::get<LocalizedMessage>(std::move(result));
            sourceConnection_.complete(revision, lastError_);
        }
    }
    isRefreshing_ = false;
    if (revision_ == revision) {
        scheduleNext();
        rooms_.announcer.deliverPending();
        if (again && !stopped_) {
            later([this] { runRefresh(false); });
        }
    } else {
        rooms_.published();
        later([this] { refresh(); });
    }
}

bool ReadingLoop::keepCreditDetails(UsageSnapshot& reading) {
    const MonitorState* known = state();
    const std::optional<UsageSnapshot>& last = known ? known->snapshot : std::nullopt;
    if (reading.creditDetails) {
        return true;
    }
    if (!last || last->accountFingerprint != reading.accountFingerprint) {
        depth_.countMoved();  // nothing of this account's to keep: the details at once
        return true;
    }
    // Details and count stay those of one read. One whose count moved is not taken: the full
    // reading that follows at once is compared with the one before it, which tells which
    // credit went and what the windows stood at before.
    if (reading.resetCredits && reading.resetCredits->availableCount !=
                                    (last->resetCredits ? last->resetCredits->availableCount : 0)) {
        depth_.countMoved();
        return false;
    }
    reading.resetCredits = last->resetCredits;
    return true;
}

bool ReadingLoop::noteSpentCredits(MonitorState& state, const UsageSnapshot& previous,
                                   const UsageSnapshot& reading) {
    if (!reading.creditDetails || !previous.resetCredits || !reading.resetCredits) {
        return false;
    }
    bool noted = false;
    std::vector<CreditUse>& uses = state.creditUses;
    const std::optional<RateBucket> before = previous.codexBucket();
    for (CreditUse& use :
         CreditUse::spent(*previous.resetCredits, *reading.resetCredits, reading.observedAt)) {
        for (QuotaWindow which : before ? before->windows() : std::vector<QuotaWindow>()) {
            if (const auto used = before->window(which)->validUsedPercent();
                used && use.used.size() < CreditUse::maximumWindows) {
                use.used.emplace(minutes(which), *used);
            }
        }
        if (uses.size() < CreditUse::maximumKept &&
            std::none_of(uses.begin(), uses.end(),
                         [&](const CreditUse& kept) { return kept.id == use.id; })) {
            uses.push_back(std::move(use));
            noted = true;
        }
    }
    return noted;
}

void ReadingLoop::take(UsageSnapshot reading, long long revision) {
    StateKeeper& keeper = rooms_.keeper;
    lastError_.reset();
    sourceConnection_.complete(revision, std::nullopt);
    failures_ = 0;
    if (rooms_.source > 0) {
        // One account is read, recorded and announced once, by the first source that reads it.
        sameAs_ = rooms_.readBefore ? rooms_.readBefore(reading, rooms_.source) : std::nullopt;
        if (sameAs_) {
            return;
        }
    }
    bool recorded = false;
    std::optional<UsageSnapshot> previous;
    MonitorState* state = &adoptAccount(reading);
    const std::string fingerprint = reading.accountFingerprint;
    if (keeper.holdsEngine()) {
        std::vector<ResetEvent> events = state->detector.observe(reading);
        if (state->snapshot && state->snapshot->accountFingerprint == reading.accountFingerprint) {
            previous = std::move(state->snapshot);
            recorded = noteSpentCredits(*state, *previous, reading);
        }
        state->snapshot = std::move(reading);
        recorded = recorded || !events.empty();
        recordEvents(*state, std::move(events));
        state->counters.readings.good += 1;
    } else {
        state->snapshot = std::move(reading);  // shown, never saved
        keeper.readHolders();
        state = rooms_.source == 0 ? &keeper.state() : keeper.account(fingerprint);
    }
    rooms_.timeline.keep(*state->snapshot, rooms_.clock.now(), keeper.holdsEngine());
    if (keeper.holdsEngine() && recordWarnings(*state, previous)) {
        recorded = true;
    }
    keeper.persistReading(recorded);
}

MonitorState& ReadingLoop::adoptAccount(UsageSnapshot& reading) {
    StateKeeper& keeper = rooms_.keeper;
    const std::optional<std::string> legacy = std::move(reading.legacyFingerprint);
    reading.legacyFingerprint.reset();
    if (rooms_.source > 0) {
        account_ = reading.accountFingerprint;
        return keeper.adopt(account_, source().label);
    }
    MonitorState& state = keeper.state();
    if (!keeper.holdsEngine()) {
        return state;
    }
    if (legacy) {
        state.detector.renameAccount(*legacy, reading.accountFingerprint);
    }
    if (state.snapshot && legacy && state.snapshot->accountFingerprint == *legacy) {
        return state;  // the same account as an earlier version named it
    }
    if (rooms_.preferences.current().sources.several()) {
        // Another account's history is kept apart, and this one's comes back if it was kept.
        keeper.exchangeFirst(reading.accountFingerprint, source().label);
    } else if (state.snapshot && state.snapshot->accountFingerprint != reading.accountFingerprint) {
        keeper.dropSettled();  // the history belongs to one account
    }
    return keeper.state();
}

void ReadingLoop::recordEvents(MonitorState& state, std::vector<ResetEvent> events) {
    const WarningPreferences& chosen = rooms_.preferences.warnings();
    for (ResetEvent& event : events) {
        state.counters.countReset(event.bucketId, event.window);
        const bool codex = MonitorState::announced(event);
        auto& records = codex ? state.records : state.otherRecords;
        records.insert(records.begin(), codex || chosen.lists(event.bucketId)
                                            ? rooms_.announcer.owe(std::move(event), true)
                                            : Announcer::recordOnly(std::move(event)));
    }
    for (auto* records : {&state.records, &state.otherRecords}) {
        if (records->size() > MonitorState::maximumRecords) {
            records->resize(MonitorState::maximumRecords);
        }
    }
}

bool ReadingLoop::recordWarnings(MonitorState& state,
                                 const std::optional<UsageSnapshot>& previous) {
    const WarningPreferences& preferences = rooms_.preferences.warnings();
    std::vector<LimitWarning> issued;
    issued.reserve(state.warnings.size() + state.otherWarnings.size());
    for (const auto* warnings : {&state.warnings, &state.otherWarnings}) {
        for (const WarningRecord& record : *warnings) {
            issued.push_back(record.event);
        }
    }
    const Date now = rooms_.clock.now();
    const TimelineKeeper::Forecasts none;
    bool any = false;
    for (const RateBucket& bucket : state.snapshot->buckets) {
        const std::string id = bucket.id();
        std::map<QuotaWindow, Date> lastResets;
        for (const auto* records : {&state.records, &state.otherRecords}) {
            for (const EventRecord& record : *records) {
                if (record.event.bucketId == id) {  // newest first
                    lastResets.try_emplace(record.event.window, record.event.observedAt);
                }
            }
        }
        std::map<QuotaWindow, Date> heldResets;
        for (QuotaWindow which : bucket.windows()) {
            if (const std::optional<Date> held = state.detector.heldReset(id, which)) {
                heldResets.emplace(which, *held);
            }
        }
        std::vector<LimitWarning> owed = detectWarnings(
            {.reading = *state.snapshot,
             .bucket = id,
             .previous = previous ? &*previous : nullptr,
             .forecasts = id == "codex"
                              ? rooms_.timeline.forecasts(state.snapshot->accountFingerprint)
                              : none,
             .preferences = preferences,
             .issued = issued,
             .lastResets = std::move(lastResets),
             .heldResets = std::move(heldResets),
             .now = now,
             .creditUses = state.creditUses,
             .accountSince = state.accountSince});
        for (LimitWarning& warning : owed) {
            state.counters.countWarning(warning.reason);
            const bool codex = MonitorState::announced(warning);
            auto& warnings = codex ? state.warnings : state.otherWarnings;
            warnings.insert(warnings.begin(),
                            codex || preferences.lists(warning.bucketId)
                                ? rooms_.announcer.owe(std::move(warning), preferences.webhook)
                                : Announcer::recordOnly(std::move(warning)));
        }
        any = any || !owed.empty();
    }
    // A spent credit is settled once its time has passed (warned of or not); one seen a day
    // ahead of the clock was seen by a clock since set back.
    const auto settled = std::erase_if(state.creditUses, [&](const CreditUse& use) {
        return now - use.seenAt >= CreditUse::settleTime || use.seenAt - now > std::chrono::days(1);
    });
    any = any || settled > 0;
    // The oldest go first, but not while what they warned of lasts: a week's warnings would
    // otherwise be pushed out by the five-hour windows' and given again.
    for (auto* warnings : {&state.warnings, &state.otherWarnings}) {
        while (warnings->size() > MonitorState::maximumWarnings) {
            const auto past = std::find_if(
                warnings->rbegin(), warnings->rend(), [&](const WarningRecord& record) {
                    return !record.event.resetAt || *record.event.resetAt <= now;
                });
            if (past == warnings->rend()) {
                warnings->pop_back();
            } else {
                warnings->erase(std::next(past).base());
            }
        }
    }
    return any;
}

void ReadingLoop::scheduleNext() {
    timer_.reset();
    if (stopped_) {
        return;
    }
    const Date current = rooms_.clock.now();
    const MonitorState* known = state();
    // A source that reads another's account only looks now and then for a change of account.
    const double delay =
        sameAs_ ? RefreshSchedule::longestInterval
                : RefreshSchedule::delay(known ? known->snapshot : std::nullopt, current,
                                         rooms_.preferences.settings().refreshInterval, failures_);
    const auto wait = override_.value_or(
        std::chrono::duration_cast<Duration>(std::chrono::duration<double>(delay)));
    nextRefreshAt_ = current + wait;
    // Posted, so the reading that replaces this timer runs outside the timer's own callback.
    timer_ = rooms_.loop.startTimer(wait, false, [this] { later([this] { runRefresh(false); }); });
    rooms_.published();
}

Answer<FetchResult> ReadingLoop::fetch(CodexConfiguration configuration, CodexClient::Depth depth) {
    return {alive_, [this, configuration, depth](std::function<void(FetchResult)> done) {
                rooms_.codex.fetch(configuration, depth, std::move(done));
            }};
}

}  // namespace quotalume
