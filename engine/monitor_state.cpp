#include "monitor_state.hpp"

#include <quotalume/support/bounded_json.hpp>
#include <quotalume/support/json_decoding_error.hpp>
#include <quotalume/support/uuid.hpp>
#include <quotalume/webhook/webhook_configuration_store.hpp>

#include "support/json_coding.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace quotalume {
namespace {

using namespace coding;

// A hundred records of a few hundred bytes each, a snapshot and a detector come to well under
// a megabyte; anything much larger is not a file we wrote.
constexpr std::size_t largestFile = 4 << 20;
// Lists longer than the cap are trimmed on load, but one ten times longer is not ours either,
// and decoding it would only cost time.
constexpr std::size_t largestStoredList = 10 * MonitorState::maximumRecords;
// A save writes ".state-<uuid>.tmp" beside the file and renames it into place.
constexpr std::string_view temporaryPrefix = ".state-";
constexpr std::string_view temporarySuffix = ".tmp";

// Nothing when there is no file; throws when there is one that cannot be used.
std::optional<json> readState(const std::filesystem::path& path) {
    // Saving only ever renames a regular file into place, so a link (even one leading nowhere)
    // is not ours; following it would read a file outside the folder.
    const std::optional<std::string> content =
        readSmallFile(path, largestFile, {.followLinks = false});
    if (!content) {
        return std::nullopt;
    }
    // Several accounts' full histories hold more values than a line from outside may; the file's
    // size bounds them.
    json document = parseBoundedJSON(*content, maximumJSONDepth, largestFile / 4);
    if (document.is_discarded()) {
        throw JSONDecodingError(Kind::notJSON, "state: not JSON or nested too deeply");
    }
    return document;
}

// Trimmed to the caps, newest first, and cleared of records of other buckets in the lists
// older versions kept them in.
void tidy(MonitorState& state) {
    state.dropStrayRecords();
    for (auto* records : {&state.records, &state.otherRecords}) {
        if (records->size() > MonitorState::maximumRecords) {
            records->resize(MonitorState::maximumRecords);
        }
    }
    for (auto* warnings : {&state.warnings, &state.otherWarnings}) {
        if (warnings->size() > MonitorState::maximumWarnings) {
            warnings->resize(MonitorState::maximumWarnings);
        }
    }
}

// Each read on its own: one that cannot be, or names no account or one named before, is left out
// and costs none of the others.
std::vector<AccountState> accountsOf(const json& document) {
    std::vector<AccountState> accounts;
    const json* list = member(document, "accounts");
    if (list == nullptr || !list->is_array()) {
        return accounts;
    }
    for (const json& entry : *list) {
        try {
            object(entry, "account");
            AccountState account{asString(required(entry, "fingerprint"), "fingerprint"),
                                 asString(required(entry, "label"), "label"),
                                 required(entry, "state").get<MonitorState>()};
            const bool repeated = std::any_of(
                accounts.begin(), accounts.end(),
                [&](const AccountState& kept) { return kept.fingerprint == account.fingerprint; });
            // One over the cap is kept while every entry still owes: the keeper trims the rest.
            if (!account.fingerprint.empty() && !repeated &&
                accounts.size() < 2 * AccountState::maximumKept) {
                tidy(account.state);
                accounts.push_back(std::move(account));
            }
        } catch (const std::exception&) {
        }
    }
    return accounts;
}

}  // namespace

namespace {

template <typename Event>
void encodeRecord(json& out, const DeliveryRecord<Event>& record) {
    out = {{"event", record.event},
           {"localStatus", record.localStatus},
           {"webhookStatus", record.webhookStatus},
           {"webhookAttempts", record.webhookAttempts},
           {"webhookPending", record.webhookPending},
           {"localPending", record.localPending}};
    put(out, "webhookFingerprint", record.webhookFingerprint);
    if (record.nextAttemptAt) {
        out["nextAttemptAt"] = referenceSeconds(*record.nextAttemptAt);
    }
}

template <typename Event>
void decodeRecord(const json& in, DeliveryRecord<Event>& record) {
    object(in, "record");
    const std::int64_t attempts = asInt64(required(in, "webhookAttempts"), "webhookAttempts");
    // A negative count would buy a record more sends than the retry limit allows.
    if (attempts < 0) {
        fail(Kind::dataCorrupted, "webhookAttempts", "negative");
    }
    DeliveryRecord<Event> decoded;
    static_cast<Delivery&>(decoded) =
        Delivery{required(in, "localStatus").get<LocalizedMessage>(),
                 required(in, "webhookStatus").get<LocalizedMessage>(),
                 optionalString(in, "webhookFingerprint"),
                 attempts,
                 optional(in, "nextAttemptAt", asReferenceDate),
                 asBool(required(in, "webhookPending"), "webhookPending"),
                 asBool(required(in, "localPending"), "localPending")};
    decoded.event = required(in, "event").get<Event>();
    record = std::move(decoded);
}

// Pending delivery finds a record by its id; with two, a status could land on the wrong one.
template <typename Record>
std::vector<Record> decodeList(const json& list, const char* key) {
    if (!list.is_array()) {
        fail(Kind::typeMismatch, key, "expected an array");
    }
    if (list.size() > largestStoredList) {
        fail(Kind::dataCorrupted, key, "far more records than are ever kept");
    }
    auto records = list.get<std::vector<Record>>();
    std::unordered_set<std::string> ids;
    for (const auto& record : records) {
        if (!ids.insert(record.id()).second) {
            fail(Kind::dataCorrupted, key, "two records with one id");
        }
    }
    return records;
}

template <typename Record>
std::vector<Record> leniently(const json* list) {
    std::vector<Record> records;
    if (list == nullptr || !list->is_array() || list->size() > largestStoredList) {
        return records;
    }
    std::unordered_set<std::string> ids;
    for (const json& item : *list) {
        try {
            Record record = item.get<Record>();
            if (ids.insert(record.id()).second) {
                records.push_back(std::move(record));
            }
        } catch (const JSONDecodingError&) {
        } catch (const json::exception&) {
        }
    }
    return records;
}

}  // namespace

void to_json(json& out, const EventRecord& record) {
    encodeRecord(out, record);
}

void from_json(const json& in, EventRecord& record) {
    decodeRecord(in, record);
}

void to_json(json& out, const WarningRecord& record) {
    encodeRecord(out, record);
}

void from_json(const json& in, WarningRecord& record) {
    decodeRecord(in, record);
}

bool MonitorState::announced(const ResetEvent& event) {
    return event.bucketId == "codex" && isStandard(event.window);
}

bool MonitorState::announced(const LimitWarning& warning) {
    return warning.bucketId == "codex" &&
           (isBlocked(warning.reason) || !warning.window || isStandard(*warning.window));
}

bool MonitorState::owes() const {
    bool owed = false;
    eachDelivery([&](const Delivery& record) { owed = owed || record.owed(); });
    return owed;
}

void MonitorState::dropStrayRecords() {
    std::erase_if(records, [](const EventRecord& record) { return !announced(record.event); });
    std::erase_if(warnings,
                  [](const WarningRecord& record) { return record.event.bucketId != "codex"; });
    std::erase_if(otherRecords, [](const EventRecord& record) { return announced(record.event); });
}

bool MonitorState::restartsAlike(const MonitorState& other) const {
    if (!snapshot || !other.snapshot) {
        return snapshot.has_value() == other.snapshot.has_value();
    }
    // Exact, reset times to the second: the detector's one-minute tolerance is measured from
    // the last reading, so a stored time a few seconds off could decide a reset differently
    // after a restart. The detector's observations need no comparison of their own: they are
    // the windows of the readings it saw, so with the stored reading's account and figures they
    // differ only in their times.
    return snapshot->accountFingerprint == other.snapshot->accountFingerprint &&
           snapshot->buckets == other.snapshot->buckets &&
           snapshot->ordinaryUsageAllowed == other.snapshot->ordinaryUsageAllowed;
}

void to_json(json& out, const MonitorState& state) {
    out = {{"detector", state.detector}, {"records", state.records}};
    if (!state.warnings.empty()) {
        out["warnings"] = state.warnings;
    }
    if (!state.otherRecords.empty()) {
        out["otherRecords"] = state.otherRecords;
    }
    if (!state.otherWarnings.empty()) {
        out["otherWarnings"] = state.otherWarnings;
    }
    if (!state.creditUses.empty()) {
        out["creditUses"] = state.creditUses;
    }
    if (state.accountSince) {
        out["accountSince"] = referenceSeconds(*state.accountSince);
    }
    if (!state.counters.empty()) {
        out["counters"] = state.counters;
    }
    if (state.snapshot) {
        out["snapshot"] = state.snapshot->toJSON(DateCoding::referenceSeconds);
    }
}

void from_json(const json& in, MonitorState& state) {
    object(in, "state");
    MonitorState decoded;
    decoded.detector = required(in, "detector").get<ResetDetector>();
    if (const json* snapshot = member(in, "snapshot")) {
        decoded.snapshot = UsageSnapshot::fromJSON(*snapshot, DateCoding::referenceSeconds);
    }
    decoded.records = decodeList<EventRecord>(required(in, "records"), "records");
    // Warnings and other resets are read leniently: one this version cannot read (a reason a
    // later one added, a damaged record) is left out and never costs the resets.
    decoded.warnings = leniently<WarningRecord>(member(in, "warnings"));
    decoded.otherRecords = leniently<EventRecord>(member(in, "otherRecords"));
    decoded.otherWarnings = leniently<WarningRecord>(member(in, "otherWarnings"));
    if (const json* uses = member(in, "creditUses");
        uses != nullptr && uses->is_array() && uses->size() <= CreditUse::maximumKept) {
        for (const json& use : *uses) {
            try {
                decoded.creditUses.push_back(use.get<CreditUse>());
            } catch (const std::exception&) {
                // One that cannot be read is left out; the others are still awaited.
            }
        }
    }
    if (const json* since = member(in, "accountSince"); since != nullptr) {
        try {
            decoded.accountSince = asReferenceDate(*since, "accountSince");
        } catch (const std::exception&) {
            // Unreadable: every warning kept is taken for this account's, as before it existed.
        }
    }
    if (const json* counters = member(in, "counters"); counters != nullptr) {
        try {
            decoded.counters = counters->get<MetricCounters>();
        } catch (const std::exception&) {
            // Unreadable: counted afresh, which Prometheus takes for a restart.
        }
    }
    state = std::move(decoded);
}

StateStore::StateStore(std::filesystem::path directory, FileOperations operations)
    : directory_(std::move(directory)), operations_(std::move(operations)) {}

LoadedState StateStore::load() const {
    LoadedState loaded;
    try {
        if (auto document = readState(url())) {
            loaded.state = document->get<MonitorState>();
            loaded.accounts = accountsOf(*document);
        }
    } catch (const std::exception&) {
        loaded.warning = LocalizedMessage("error.state_read");
        loaded.unreadable = true;
    }
    tidy(loaded.state);  // newest first: the oldest go
    return loaded;
}

std::optional<std::filesystem::path> StateStore::keepUnreadable() const {
    // A copy for every start with a bad file would pile up; five cover any mishap worth undoing.
    return moveAside(url(), "unreadable", 5, operations_.rename);
}

void StateStore::save(const MonitorState& state, const std::vector<AccountState>& accounts) const {
    json document = state;
    for (const AccountState& account : accounts) {
        document["accounts"].push_back({{"fingerprint", account.fingerprint},
                                        {"label", account.label},
                                        {"state", account.state}});
    }
    // Texts that are not UTF-8 (a receiver's error message, say) are stored with replacement
    // characters: refusing them would leave every later save failing as well.
    const std::string content = document.dump(-1, ' ', false, json::error_handler_t::replace);
    replaceFileAtomically(
        url(), content, std::string(temporaryPrefix) + randomUUID() + std::string(temporarySuffix),
        operations_);
}

void StateStore::removeLeftovers() const {
    const auto now = std::filesystem::file_time_type::clock::now();
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory_, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.ends_with(temporarySuffix)) {
            continue;
        }
        std::error_code ignored;
        bool abandoned = name.starts_with(temporaryPrefix);
        if (name.starts_with(WebhookConfigurationStore::temporaryPrefix)) {
            // `quotalume-cli webhook` saves without the engine lock, but a save takes
            // milliseconds: one untouched for a minute was abandoned, with the credentials in it.
            std::error_code unknown;
            const auto modified = std::filesystem::last_write_time(entry->path(), unknown);
            abandoned = !unknown && modified < now - std::chrono::minutes(1);
        }
        if (abandoned) {
            std::filesystem::remove(entry->path(), ignored);  // a link goes, not its target
        }
    }
}

}  // namespace quotalume
