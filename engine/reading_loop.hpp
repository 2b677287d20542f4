#pragma once

#include "announcer.hpp"
#include "ports.hpp"
#include "preferences_model.hpp"
#include "state_keeper.hpp"
#include "task.hpp"
#include "timeline_keeper.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/preferences/account_sources.hpp>
#include <quotalume/schedule/source_connection_feedback.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

// How much each reading asks of Codex: everything, or all but the banked resets' details. In
// full the first reading, one asked for, one a view opening needs, one the hour after the last,
// the one after a light read whose count of banked resets moved, and every one once Codex
// refused the light read's params.
class ReadDepth {
public:
    CodexClient::Depth next(bool asked, Date now) const;
    // A view showing the details opened: whether a full reading is wanted now for it.
    bool openingWants(Date now);
    // What came back for what was asked.
    void took(const UsageSnapshot& reading, CodexClient::Depth asked, Date now);
    void countMoved() { fullDue_ = true; }
    bool fullDue() const { return fullDue_; }

private:
    // A clock set back makes the last full read look recent for as long: it is then due.
    bool olderThan(Duration age, Date now) const {
        return !lastFullAt_ || now - *lastFullAt_ >= age || now < *lastFullAt_;
    }

    std::optional<Date> lastFullAt_;  // of the last reading with the banked resets' details
    bool lightRefused_ = false;       // Codex did not know the light read's params
    bool fullDue_ = false;
};

// The engine's reading room: reads the limits on the schedule, detects resets and warnings in
// each reading (the engine lock's holder only) and hands what they owe to the announcer.
// Readings never overlap: a request during one is dropped, not queued.
class ReadingLoop {
public:
    // The rooms it reads into, and what it needs of the engine around it; each must outlive it.
    struct Rooms {
        MainLoop& loop;
        WallClock& clock;
        CodexSource& codex;
        StateKeeper& keeper;
        TimelineKeeper& timeline;
        Announcer& announcer;
        const PreferencesModel& preferences;
        std::function<void()> beforeReading;  // the lock claimed, the receiver loaded
        std::function<void()> published;
        // Its place among the sources. The first source's account is the state's own; each
        // other's is kept apart by fingerprint.
        std::size_t source = 0;
        AccountSource placed;  // what the others read; the first's is in the settings
        // The label of a source before the one at `source` that reads the reading's account,
        // which it then reads alone.
        std::function<std::optional<std::string>(const UsageSnapshot& reading, std::size_t source)>
            readBefore;
    };

    explicit ReadingLoop(Rooms rooms);
    ReadingLoop(const ReadingLoop&) = delete;
    ReadingLoop& operator=(const ReadingLoop&) = delete;

    // A reading asked for (a manual refresh, a new source, a wake) reads everything; one on
    // the schedule leaves out the banked resets' details, read in full at least once an hour.
    void refresh() { runRefresh(true); }
    // A view that shows the details opened: read in full, unless that was just done.
    void viewOpened();
    // Sets the timer for the next reading, from the schedule or the override.
    void scheduleNext();
    // The Codex source was replaced: a reading of the old one belongs to nobody, and the next is
    // taken at once.
    void sourceChanged();
    // Save and Connect: says how the first reading with the new source went.
    void connecting() { sourceConnection_.begin(revision_); }
    void refuseSource(LocalizedMessage reason) { sourceConnection_.reject(std::move(reason)); }
    void stop();
    void overrideInterval(Duration interval) { override_ = interval; }

    // The source as it stands in the preferences.
    AccountSource source() const;
    std::size_t place() const { return rooms_.source; }
    // The sources were reordered or renamed: it reads `source`, now at `place`.
    void moveTo(std::size_t place, AccountSource source) {
        rooms_.source = place;
        rooms_.placed = std::move(source);
    }
    // The fingerprint of the account it read last; empty before its first reading.
    const std::string& account() const { return account_; }
    // The state of the account it last read; none before its first reading.
    const MonitorState* state() const;
    // Another source reads the same account: its label.
    const std::optional<std::string>& sameAs() const { return sameAs_; }
    bool isRefreshing() const { return isRefreshing_; }
    const std::optional<LocalizedMessage>& lastError() const { return lastError_; }
    const SourceConnectionFeedback& sourceConnection() const { return sourceConnection_; }
    const std::optional<Date>& nextRefreshAt() const { return nextRefreshAt_; }
    long long failures() const { return failures_; }

private:
    Task runRefresh(bool asked);
    Answer<FetchResult> fetch(CodexConfiguration configuration, CodexClient::Depth depth);
    // Whether the reading is taken.
    bool keepCreditDetails(UsageSnapshot& reading);
    bool noteSpentCredits(MonitorState& state, const UsageSnapshot& previous,
                          const UsageSnapshot& reading);
    void take(UsageSnapshot reading, long long revision);
    void countFailure();
    MonitorState& adoptAccount(UsageSnapshot& reading);
    void recordEvents(MonitorState& state, std::vector<ResetEvent> events);
    bool recordWarnings(MonitorState& state, const std::optional<UsageSnapshot>& previous);
    template <typename Work>
    void later(Work work);

    Rooms rooms_;
    bool isRefreshing_ = false;
    std::optional<LocalizedMessage> lastError_;
    SourceConnectionFeedback sourceConnection_;
    std::optional<Date> nextRefreshAt_;
    long long failures_ = 0;
    long long revision_ = 0;  // of the Codex source
    std::optional<Duration> override_;
    ReadDepth depth_;
    std::string account_;  // the fingerprint of the account another source last read
    std::optional<std::string> sameAs_;
    std::unique_ptr<TimerHandle> timer_;
    bool stopped_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quotalume
