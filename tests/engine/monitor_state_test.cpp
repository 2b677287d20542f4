#include "monitor_state.hpp"

#include "failed_save_contract.hpp"

#include <sys/stat.h>

#include <array>
#include <fstream>
#include <tuple>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::entriesOf;
using test::errnoOf;
using test::TempDir;

const LocalizedMessage stateRead("error.state_read");

// Dates as seconds since 2001 with fractions; the second record leaves out optional members.
json stored() {
    return json::parse(R"({
      "detector": {"accountFingerprint": "ab12", "lastObservedAt": 794045700.123456,
        "observations": {"codex:300": {"observedAt": 794045700.123456,
          "window": {"resetsAt": 1772370000.5, "usedPercent": 3, "windowDurationMins": 300}}}},
      "records": [
        {"event": {"bucketId": "codex", "bucketName": "Codex", "id": "E2",
           "nextResetAt": 794063700.75, "observedAt": 794045700.123456,
           "previousResetAt": 794045600.5, "previousUsedPercent": 40, "reason": "new_window",
           "remainingPercent": 97, "window": 300},
         "localPending": false, "localStatus": {"arguments": [], "key": "notification.disabled"},
         "nextAttemptAt": 794045760.987654, "webhookAttempts": 2, "webhookFingerprint": "f00d",
         "webhookPending": true, "webhookStatus": {"arguments": ["2"], "key": "webhook.retrying"}},
        {"event": {"bucketId": "codex", "bucketName": "Codex", "id": "E1",
           "observedAt": 794040000.001, "previousUsedPercent": 12, "reason": "restored_to_full",
           "remainingPercent": 100, "window": 10080},
         "localPending": true, "localStatus": {"arguments": [], "key": "notification.waiting"},
         "webhookAttempts": 0, "webhookPending": false,
         "webhookStatus": {"arguments": [], "key": "webhook.disabled"}}],
      "snapshot": {"accountFingerprint": "ab12", "observedAt": 794045700.123456,
        "buckets": [{"limitId": "codex", "primary":
          {"resetsAt": 1772370000.5, "usedPercent": 3, "windowDurationMins": 300}}]}})");
}

json edited(const std::function<void(json&)>& edit) {
    json document = stored();
    edit(document);
    return document;
}

LoadedState loadFrom(const TempDir& dir, const std::string& content) {
    dir.write("state.json", content);
    return StateStore(dir.path()).load();
}

TEST(MonitorStateTest, StoredFilesReadAndWriteBackUnchanged) {
    TempDir dir;
    const LoadedState loaded = loadFrom(dir, stored().dump(2));
    ASSERT_EQ(loaded.warning, std::nullopt);
    ASSERT_EQ(loaded.state.records.size(), 2u);
    EXPECT_EQ(loaded.state.records[0].id(), "E2");
    EXPECT_EQ(loaded.state.records[0].nextAttemptAt, dateFromReferenceSeconds(794045760.987654));

    // Same members, same numbers to the last fraction, nothing added for absent members.
    StateStore(dir.path()).save(loaded.state);
    const std::string saved = dir.read("state.json");
    EXPECT_EQ(json::parse(saved), stored());
    EXPECT_EQ(saved.find_first_of(" \n"), std::string::npos);  // compact
    EXPECT_EQ(StateStore(dir.path()).load().state, loaded.state);

    EXPECT_EQ(json(MonitorState{}).dump(), R"({"detector":{"observations":{}},"records":[]})");
}

// The counters are read leniently: what cannot be a count is left out, never the history.
TEST(MonitorStateTest, CountersReadBackAndWhatIsNoCountIsLeftOut) {
    TempDir dir;
    MetricCounters counted;
    counted.readings = {57, 1};
    counted.countReset("codex", QuotaWindow::fiveHour);
    counted.countReset("codex_\"x\"", *quotaWindowFromMinutes(43200));
    counted.countWarning(WarningReason::forecastExhausted);
    counted.webhooks = {3, 2};
    const json counters = counted;
    const auto without = [&](const std::function<void(MetricCounters&)>& change) {
        MetricCounters expected = counted;
        change(expected);
        return expected;
    };
    const struct {
        const char* name;
        std::function<void(json&)> edit;
        MetricCounters expected;
    } rows[] = {
        {"as written", [](json&) {}, counted},
        {"a negative count", [](json& c) { c["readings"]["ok"] = -5; },
         without([](MetricCounters& c) { c.readings.good = 0; })},
        {"a fraction, and a count past exact doubles",
         [](json& c) {
             c["deliveries"]["webhook"]["delivered"] = 2.5;
             c["deliveries"]["webhook"]["failed"] = (std::uint64_t{1} << 53) + 1;
         },
         without([](MetricCounters& c) { c.webhooks = {}; })},
        {"an unknown window and reason",
         [](json& c) {
             c["resets"]["codex"]["fortnight"] = 4;
             c["warnings"]["a_later_reason"] = 2;
         },
         counted},
        {"a member that is no object", [](json& c) { c["resets"] = 7; },
         without([](MetricCounters& c) { c.resets.clear(); })},
        {"no object at all", [](json& c) { c = "counters"; }, MetricCounters()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const LoadedState loaded = loadFrom(dir, edited([&](json& state) {
                                                     state["counters"] = counters;
                                                     row.edit(state["counters"]);
                                                 }).dump());
        EXPECT_EQ(loaded.warning, std::nullopt);
        EXPECT_EQ(loaded.state.records.size(), 2u);
        EXPECT_EQ(loaded.state.counters, row.expected);
    }
    MetricCounters many;
    for (int bucket = 0; bucket < 100; ++bucket) {
        many.countReset("b" + std::to_string(bucket), QuotaWindow::weekly);
    }
    EXPECT_EQ(many.resets.size(), MetricCounters::maximumResetSeries) << "state.json stays small";
}

TEST(MonitorStateTest, LoadingDropsStrayRecordsAndKeepsTheNewestHundred) {
    TempDir dir;
    const json mixed = edited([](json& state) {
        json foreign = state["records"][0];
        foreign["event"]["bucketId"] = "other";
        foreign["event"]["id"] = "X1";
        state["records"].insert(state["records"].begin() + 1, foreign);
        foreign["event"]["id"] = "X0";
        state["records"].push_back(foreign);
        state["snapshot"]["buckets"].push_back({{"limitId", "other"}});
        state["detector"]["observations"]["other:300"] =
            state["detector"]["observations"]["codex:300"];
    });
    const LoadedState loaded = loadFrom(dir, mixed.dump());
    EXPECT_EQ(loaded.warning, std::nullopt);
    ASSERT_EQ(loaded.state.records.size(), 2u);
    EXPECT_EQ(loaded.state.records[0].id(), "E2");
    EXPECT_EQ(loaded.state.records[1].id(), "E1");
    // Other buckets' readings and observations are this version's own.
    EXPECT_EQ(loaded.state.snapshot->buckets.size(), 2u);
    EXPECT_EQ(loaded.state.detector.observations().count("other:300"), 1u);
    EXPECT_EQ(dir.read("state.json"), mixed.dump());  // not written back until the next save

    const json long_ = edited([](json& state) {
        json record = state["records"][1];
        state["records"] = json::array();
        for (int i = 0; i < 150; ++i) {
            record["event"]["id"] = "R" + std::to_string(i);
            state["records"].push_back(record);
        }
    });
    const auto& records = loadFrom(dir, long_.dump()).state.records;
    ASSERT_EQ(records.size(), MonitorState::maximumRecords);
    EXPECT_EQ(records.front().id(), "R0");
    EXPECT_EQ(records.back().id(), "R99");
}

// Older versions fail on unknown lengths and keep only Codex records: the rest go elsewhere.
TEST(MonitorStateTest, OtherResetsGoWhereOlderVersionsNeverLook) {
    TempDir dir;
    MonitorState state = StateStore(dir.path()).load().state;
    const auto event = [](const char* id, const char* bucket, std::int64_t length) {
        EventRecord record;
        record.event = ResetEvent::test(dateFromUnixSeconds(1800000000));
        record.event.id = id;
        record.event.bucketId = bucket;
        record.event.window = *quotaWindowFromMinutes(length);
        return record;
    };
    state.records = {event("C1", "codex", 300), event("C2", "codex", 10080)};
    state.otherRecords = {event("M1", "codex", 43200), event("S1", "codex_bengalfox", 300),
                          event("S2", "codex_bengalfox", 45)};
    StateStore(dir.path()).save(state);

    const json saved = json::parse(dir.read("state.json"));
    for (const json& record : saved["records"]) {
        EXPECT_EQ(record["event"]["bucketId"], "codex");
        EXPECT_TRUE(record["event"]["window"] == 300 || record["event"]["window"] == 10080);
    }
    EXPECT_EQ(saved["records"].size(), 2u);
    EXPECT_EQ(saved["otherRecords"].size(), 3u);
    EXPECT_EQ(StateStore(dir.path()).load().state, state);

    // One this version cannot read is left out, never the rest.
    json damaged = saved;
    damaged["otherRecords"][0]["event"]["window"] = -1;
    const LoadedState loaded = loadFrom(dir, damaged.dump());
    EXPECT_EQ(loaded.warning, std::nullopt);
    EXPECT_EQ(loaded.state.records, state.records);
    ASSERT_EQ(loaded.state.otherRecords.size(), 2u);
    EXPECT_EQ(loaded.state.otherRecords[0].id(), "S1");
}

// Left as it was for the engine to keep aside.
TEST(MonitorStateTest, WhatCannotBeReadGivesAFreshStateAndStaysAsItWas) {
    using Setup = std::function<void(const fs::path& file, const TempDir& dir)>;
    const auto content = [](std::string text) -> Setup {
        return [text](const fs::path& file, const TempDir&) { std::ofstream(file) << text; };
    };
    const auto edit = [&](const std::function<void(json&)>& change) {
        return content(edited(change).dump());
    };
    const std::pair<const char*, Setup> rows[] = {
        {"empty", content("")},
        {"not an object", content("[]")},
        {"no detector", edit([](json& s) { s.erase("detector"); })},
        {"no records", edit([](json& s) { s.erase("records"); })},
        {"no webhookAttempts", edit([](json& s) { s["records"][1].erase("webhookAttempts"); })},
        {"negative attempts", edit([](json& s) { s["records"][0]["webhookAttempts"] = -1; })},
        {"unknown reason", edit([](json& s) { s["records"][0]["event"]["reason"] = "reset"; })},
        {"one id twice", edit([](json& s) { s["records"][0]["event"]["id"] = "E1"; })},
        {"a thousand and one records", edit([](json& s) {
             json list = json::array();
             for (int i = 0; i <= 1000; ++i) {
                 list.push_back(s["records"][1]);
                 list.back()["event"]["id"] = std::to_string(i);
             }
             s["records"] = list;
         })},
        {"nested 100000 deep",
         content(R"({"records":)" + std::string(100000, '[') + std::string(100000, ']') + "}")},
        {"larger than 4 MiB", content(stored().dump() + std::string(4 << 20, ' '))},
        // A folder or a FIFO in its place is tested with the engine, which keeps it aside.
        {"a link to a valid file",
         [](const fs::path& file, const TempDir& dir) {
             fs::create_symlink(dir.write("elsewhere.json", stored().dump()), file);
         }},
        {"a dangling link",
         [](const fs::path& file, const TempDir& dir) {
             fs::create_symlink(dir.path() / "nowhere", file);
         }},
    };
    for (const auto& [name, setup] : rows) {
        SCOPED_TRACE(name);
        TempDir dir;
        StateStore store(dir.path());
        setup(store.url(), dir);
        const auto kind = fs::symlink_status(store.url()).type();
        const std::string before = kind == fs::file_type::regular ? dir.read("state.json") : "";
        const LoadedState loaded = store.load();
        EXPECT_EQ(loaded.state, MonitorState{});
        EXPECT_EQ(loaded.warning, stateRead);
        EXPECT_EQ(fs::symlink_status(store.url()).type(), kind);
        if (kind == fs::file_type::regular) {
            EXPECT_EQ(dir.read("state.json"), before);
        }
    }

    // Saving replaces a link itself and never writes through it.
    TempDir dir;
    StateStore store(dir.path());
    fs::create_symlink(dir.write("elsewhere.json", "theirs"), store.url());
    store.save(MonitorState{});
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(store.url())));
    EXPECT_EQ(dir.read("elsewhere.json"), "theirs");
}

// A restart from a state whose later readings went unwritten (restartsAlike) finds the same resets.
TEST(MonitorStateTest, ARestartAfterSkippedReadingsFindsTheSameResets) {
    using Window = test::WindowReading;
    using test::reading;
    constexpr double T = 1760000000, week = 604800;
    const struct {
        const char* name;
        UsageSnapshot first;
        UsageSnapshot second;
    } cases[] = {
        {"weekly new window", reading(T - 100, {}, Window{40, T}),
         reading(T + 5, {}, Window{3, T + week})},
        {"reset moved exactly 60 s", reading(T - 100, {}, Window{40, T}),
         reading(T + 5, {}, Window{3, T + 60})},
        {"reset moved 61 s", reading(T - 100, {}, Window{40, T}),
         reading(T + 5, {}, Window{3, T + 61})},
        {"next reset not yet due", reading(T - 100, {}, Window{40, T}),
         reading(T + 500, {}, Window{3, T + 400})},
        {"restored", reading(T - 100, Window{12}), reading(T + 5, Window{0})},
        {"another account", reading(T - 100, Window{12}), reading(T + 5, Window{0}, {}, "other")},
        {"both windows", reading(T - 100, Window{90, T}, Window{70, T}),
         reading(T + 5, Window{0, T + 18000}, Window{1, T + week})},
    };
    const auto observed = [](MonitorState state, const UsageSnapshot& snapshot) {
        state.detector.observe(snapshot);
        state.snapshot = snapshot;
        return state;
    };
    const auto found = [](MonitorState state, const UsageSnapshot& snapshot) {
        std::vector<std::tuple<QuotaWindow, ResetReason, double>> events;
        for (const ResetEvent& event : state.detector.observe(snapshot)) {
            events.emplace_back(event.window, event.reason, event.previousUsedPercent);
        }
        return events;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MonitorState stored = observed({}, c.first);
        int skipped = 0;
        // Readings in between: later, a reset time off by seconds, a figure moved, another account.
        for (int variant = 0; variant < 12; ++variant) {
            const double shift = std::array{0.0, 30.0, -30.0}[variant / 4];
            const double used = variant / 2 % 2;
            UsageSnapshot between = c.first;
            between.observedAt += std::chrono::seconds(50);
            between.accountFingerprint += variant % 2 ? "-other" : "";
            for (auto* window : {&between.buckets[0].primary, &between.buckets[0].secondary}) {
                if (*window && (*window)->usedPercent) {
                    *(*window)->usedPercent += used;
                    if ((*window)->resetsAt) {
                        *(*window)->resetsAt += shift;
                    }
                }
            }
            const MonitorState latest = observed(stored, between);
            if (latest.restartsAlike(stored)) {
                ++skipped;
                EXPECT_EQ(found(stored, c.second), found(latest, c.second))
                    << "shifted " << shift << " s, " << used << " % more used"
                    << (variant % 2 ? ", another account" : "");
            }
        }
        EXPECT_GT(skipped, 0) << "a reading whose time alone changed is skipped";
    }
}

// A killed save leaves its temporary file; another writer's (the webhook command's) must stay.
TEST(MonitorStateTest, LeftoversOfInterruptedSavesAreRemoved) {
    TempDir dir;
    StateStore store(dir.path());
    store.save(MonitorState{});
    for (const char* name :
         {".state-1.tmp", ".state-2.tmp", ".webhook-1.tmp", ".webhook-2.tmp", "state.tmp"}) {
        dir.write(name, "partial");
    }
    // A webhook save a minute old was abandoned; a fresh one may still be under way.
    fs::last_write_time(dir.path() / ".webhook-1.tmp",
                        fs::file_time_type::clock::now() - std::chrono::minutes(2));
    store.removeLeftovers();
    EXPECT_EQ(entriesOf(dir.path()),
              (std::vector<std::string>{".webhook-2.tmp", "state.json", "state.tmp"}));
    StateStore(dir.path() / "missing").removeLeftovers();
}

TEST(MonitorStateTest, TextThatIsNotUTF8IsSavedWithReplacementCharacters) {
    TempDir dir;
    EventRecord record{.event = ResetEvent::test(dateFromReferenceSeconds(1.5))};
    record.webhookStatus = LocalizedMessage("error.http", {"bad \xC3 byte"});
    MonitorState state;
    state.records.push_back(record);
    StateStore(dir.path()).save(state);
    const LoadedState loaded = StateStore(dir.path()).load();
    EXPECT_EQ(loaded.warning, std::nullopt);
    EXPECT_EQ(loaded.state.records.at(0).webhookStatus.arguments,
              std::vector<std::string>{"bad \xEF\xBF\xBD byte"});
}

// The atomic, owner-only writing itself is the private-file writer's, tested with it.
using test::FailedSaveTest;
INSTANTIATE_TEST_SUITE_P(StateStore, FailedSaveTest,
                         ::testing::Values(test::SavingWriter{
                             "stateJSON", "state.json", "old",
                             [](const fs::path& folder, const FileOperations& operations) {
                                 return std::to_string(
                                     errnoOf([&] { StateStore(folder, operations).save({}); }));
                             }}),
                         test::writerName);

}  // namespace
}  // namespace quotalume
