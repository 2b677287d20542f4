#pragma once

#include "metric_counters.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/reset/reset_detector.hpp>
#include <quotalume/reset/reset_event.hpp>
#include <quotalume/support/private_file.hpp>
#include <quotalume/usage/usage_snapshot.hpp>

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// What became of the two announcements of a reset or a warning.
struct Delivery {
    LocalizedMessage localStatus;
    LocalizedMessage webhookStatus;
    std::optional<std::string> webhookFingerprint;  // the configuration in force when recorded
    std::int64_t webhookAttempts = 0;               // sends started
    std::optional<Date> nextAttemptAt;              // absent: as soon as possible
    bool webhookPending = false;
    bool localPending = false;

    // Either announcement still to be made.
    bool owed() const { return localPending || webhookPending; }
    friend bool operator==(const Delivery&, const Delivery&) = default;
};

template <typename Event>
struct DeliveryRecord : Delivery {
    Event event;

    const std::string& id() const { return event.id; }
    friend bool operator==(const DeliveryRecord&, const DeliveryRecord&) = default;
};

// One detected reset, and one warning, with their announcements.
using EventRecord = DeliveryRecord<ResetEvent>;
using WarningRecord = DeliveryRecord<LimitWarning>;

// Dates as seconds since 2001-01-01 UTC; absent members left out. Throws JSONDecodingError.
void to_json(nlohmann::json& json, const EventRecord& record);
void from_json(const nlohmann::json& json, EventRecord& record);
void to_json(nlohmann::json& json, const WarningRecord& record);
void from_json(const nlohmann::json& json, WarningRecord& record);

// The monitor's durable memory: the detector, the last reading and the history.
struct MonitorState {
    static constexpr std::size_t maximumRecords = 100;
    static constexpr std::size_t maximumWarnings = 100;  // apart, so they never push resets out

    ResetDetector detector;
    std::optional<UsageSnapshot> snapshot;
    std::vector<EventRecord> records;     // newest first
    std::vector<WarningRecord> warnings;  // newest first
    // Resets of other buckets and of the Codex bucket's other windows, newest first: recorded,
    // not announced. Apart, so that older versions, which cannot read such a window, still read
    // the rest.
    std::vector<EventRecord> otherRecords;
    // The same of warnings: of other buckets, and levels and forecasts of the Codex bucket's
    // other windows. A blocked account is the account's, announced whatever window blocks it.
    std::vector<WarningRecord> otherWarnings;
    // Banked resets seen spent whose reset is still awaited, oldest first.
    std::vector<CreditUse> creditUses;
    // When the readings of this account (or source) began, after another's.
    std::optional<Date> accountSince;
    // What was counted for the metrics; kept when the history is trimmed or another account's
    // begins, so a counter never goes down.
    MetricCounters counters;

    // Whether the record belongs in `records`: the Codex bucket's five-hour or weekly window.
    // The others are kept apart, and announced only from the buckets the user chose.
    static bool announced(const ResetEvent& event);
    static bool announced(const LimitWarning& warning);
    // Every record's delivery: the resets', then the warnings', the Codex bucket's first.
    template <typename Visit>
    void eachDelivery(Visit visit) {
        eachIn(*this, visit);
    }
    template <typename Visit>
    void eachDelivery(Visit visit) const {
        eachIn(*this, visit);
    }
    // Whether any announcement is still owed.
    bool owes() const;
    // Drops records of other buckets from the lists older versions kept them in.
    void dropStrayRecords();
    // Whether a restart from `other` would detect exactly the resets one from this state
    // would: the same account and figures; the times of the readings may differ. Records are
    // not compared: they are written whenever they change.
    bool restartsAlike(const MonitorState& other) const;

    friend bool operator==(const MonitorState&, const MonitorState&) = default;

private:
    template <typename State, typename Visit>
    static void eachIn(State& state, Visit& visit) {
        for (auto* records : {&state.records, &state.otherRecords}) {
            for (auto& record : *records) {
                visit(record);
            }
        }
        for (auto* warnings : {&state.warnings, &state.otherWarnings}) {
            for (auto& record : *warnings) {
                visit(record);
            }
        }
    }
};

// "detector" and "records" are required, two records with one id are refused. Warnings, the
// other resets and warnings and the spent credits awaited go in members of their own
// ("warnings", "otherRecords", "otherWarnings", "creditUses", "accountSince", "counters"), left out
// while there are none: older versions ignore them and keep their resets, and one that cannot be
// read is left out. Throws JSONDecodingError.
void to_json(nlohmann::json& json, const MonitorState& state);
void from_json(const nlohmann::json& json, MonitorState& state);

// Another account's state, apart from the first source's: found by its reading's fingerprint,
// shown under the label of the source that last read it. Kept when its source is removed, so
// the history shows again when the source comes back.
struct AccountState {
    static constexpr std::size_t maximumKept = 8;  // each a full history, within the file's size

    std::string fingerprint;  // the account's, as its readings name it
    std::string label;
    MonitorState state;

    friend bool operator==(const AccountState&, const AccountState&) = default;
};

// What loading found: the state cleaned up for the Codex bucket, and "error.state_read" when
// the file was there but could not be used (a fresh state is then returned and the file is
// left as it is: only the engine lock's holder may keep it aside, with keepUnreadable).
struct LoadedState {
    MonitorState state;
    std::vector<AccountState> accounts;  // one that cannot be read is left out
    std::optional<LocalizedMessage> warning;
    bool unreadable = false;
};

// state.json in the application's data folder.
class StateStore {
public:
    explicit StateStore(std::filesystem::path directory,
                        FileOperations operations = FileOperations::system());

    const std::filesystem::path& directory() const { return directory_; }
    std::filesystem::path url() const { return directory_ / "state.json"; }

    // Anything but a regular file of at most 4 MiB holding a valid state (a folder, a FIFO, a
    // link, bad JSON, a record too many) gives a fresh state and the warning. More than
    // maximumRecords records are trimmed to the newest.
    LoadedState load() const;
    // Moves an unreadable state file out of the way before a fresh state replaces it:
    // "state.json.unreadable-<UTC time>", the newest five kept. Returns the copy's path (nothing
    // when the file has gone); throws std::system_error when it cannot be moved.
    std::optional<std::filesystem::path> keepUnreadable() const;
    // Owner-only and atomic: the folder is made 0700, the file never exists with a wider mode,
    // and it reaches the disk before it replaces the old one. Throws std::system_error.
    // The other accounts go in a member of their own ("accounts"), left out while there are
    // none: one source writes what it always wrote, and older versions read the first.
    void save(const MonitorState& state, const std::vector<AccountState>& accounts = {}) const;
    // Deletes the temporary files of saves that never finished (their process was killed): the
    // state's, and the webhook configuration's once a minute old. Only for the holder of the
    // engine lock: another's state save may be under way.
    void removeLeftovers() const;

private:
    std::filesystem::path directory_;
    FileOperations operations_;
};

}  // namespace quotalume
