#include "engine.hpp"

#include "core_ports.hpp"
#include "metrics_endpoint.hpp"
#include "metrics_exposition.hpp"
#include "monitor_fakes.hpp"
#include "scrape_client.hpp"
#include "test_support.hpp"

#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/schedule/refresh_schedule.hpp>
#include <quotalume/support/bounded_json.hpp>
#include <quotalume/webhook/webhook_payload.hpp>

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <fstream>
#include <system_error>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const WebhookConfiguration receiver{"http://127.0.0.1:9/hook", WebhookFormat::json, "", ""};
const WebhookFailure unavailable{LocalizedMessage("error.webhook_http", {"503"}), true};
const WebhookFailure refused{LocalizedMessage("error.webhook_http", {"400"}), false};

// The schedule's delay as the engine's clock counts it.
Duration scheduled(const std::optional<UsageSnapshot>& snapshot, Date now, double interval) {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(RefreshSchedule::delay(snapshot, now, interval, 0)));
}

class MonitorTest : public ::testing::Test {
protected:
    MonitorTest() { fs::create_directories(codexHome); }

    fs::path data() const { return dir.path() / "data" / "Quotalume"; }

    Engine& make(bool demo = false) {
        monitor.reset();
        monitor = std::make_unique<Engine>(
            EnginePorts{loop, clock, codex, webhooks, center, loginItems, signals, preferences,
                        engine, data(), fileOperations},
            demo);
        return *monitor;
    }

    // Started, the webhook on when asked, the first fetch waiting.
    Engine& started(bool webhook = false) {
        make().start();
        if (webhook) {
            enableWebhook();
        }
        loop.drain();
        return *monitor;
    }

    // The process ends, and the next run starts on an empty data folder with fresh fakes.
    void startOver() {
        monitor.reset();
        codex.calls.clear();
        webhooks.calls.clear();
        center.posted.clear();
        fs::remove_all(data());
    }

    // A reading of the five-hour window, `used` percent, resetting at a fixed time.
    UsageSnapshot reading(double used, const std::string& account = "account") const {
        RateBucket bucket{"codex", std::nullopt, RateWindow{used, 300, 1'800'003'600.0}};
        return UsageSnapshot{clock.now_, UsageSnapshot::fingerprint(account), {bucket}};
    }

    void answerFetch(FetchResult result) {
        codex.calls.answer(std::move(result));
        loop.drain();
    }

    // The next reading, 30 s on, observed then.
    void answerLater(FetchResult result) {
        loop.advance(seconds(30));
        if (auto* snapshot = std::get_if<UsageSnapshot>(&result)) {
            snapshot->observedAt = clock.now_;
        }
        answerFetch(std::move(result));
    }

    void answerWebhook(WebhookResult result = WebhookResult()) {
        webhooks.calls.answer(std::move(result));
        loop.drain();
    }

    // Answers the waiting fetch with `used` percent, then the next, 30 s later, with 0 %.
    void readReset(double used = 50) {
        answerFetch(reading(used));
        answerLater(reading(0));
    }

    // Started, with one reading of 50 % used and then one of 0 %: one reset recorded.
    Engine& startWithOneReset(bool webhook = false) {
        started(webhook);
        readReset();
        return *monitor;
    }

    // A state file from an earlier run whose one record owes both announcements, unless edited.
    MonitorState storeOwedRecord(const char* webhookStatus, std::int64_t attempts,
                                 const std::function<void(EventRecord&)>& edit = nullptr) const {
        ResetEvent event = ResetEvent::test(clock.now_);
        event.bucketId = "codex";
        MonitorState stored;
        stored.records.push_back({{.localStatus = LocalizedMessage("notification.waiting"),
                                   .webhookStatus = LocalizedMessage(webhookStatus),
                                   .webhookFingerprint = receiver.fingerprint(),
                                   .webhookAttempts = attempts,
                                   .webhookPending = true,
                                   .localPending = true},
                                  event});
        if (edit) {
            edit(stored.records[0]);
        }
        StateStore(data()).save(stored);
        return stored;
    }

    Duration until(Date when) const { return std::chrono::ceil<Duration>(when - clock.now_); }

    void enableWebhook() { ASSERT_TRUE(monitor->saveWebhook(receiver, true)); }

    const EventRecord& onlyRecord() const {
        EXPECT_EQ(monitor->records().size(), 1u);
        return monitor->records().front();
    }

    test::InterfaceLanguage language;
    test::TempDir dir;
    const fs::path codexHome = dir.path() / "codex";
    test::FakeClock clock;
    test::ManualLoop loop{clock};
    test::FakeCodex codex{loop};
    test::FakeWebhooks webhooks{loop};
    test::FakeNotificationCenter center{loop};
    test::FakeLoginItems loginItems;
    test::FakeSignals signals;
    test::FakeEngine engine;
    test::CountingPreferences preferences;
    FileOperations fileOperations = FileOperations::system();
    std::unique_ptr<Engine> monitor;
};

TEST_F(MonitorTest, RefreshesNeverOverlapAndReArmFromTheSchedule) {
    Engine& m = started();
    ASSERT_EQ(codex.calls.waiting(), 1u);
    EXPECT_EQ(codex.calls.requests()[0].timeout, 25);
    m.refresh();
    signals.wake();
    loop.drain();
    EXPECT_EQ(codex.calls.requests().size(), 1u) << "a refresh during a refresh fetches nothing";
    EXPECT_TRUE(m.isRefreshing());

    answerFetch(reading(20));
    EXPECT_FALSE(m.isRefreshing());
    EXPECT_EQ(m.snapshot(), reading(20));
    const Duration delay = scheduled(m.snapshot(), clock.now_, 30);
    EXPECT_EQ(m.readings().nextRefreshAt(), clock.now_ + delay);

    loop.advance(std::chrono::floor<seconds>(delay) - seconds(1));
    EXPECT_EQ(codex.calls.waiting(), 0u);
    loop.advance(seconds(1));
    EXPECT_EQ(codex.calls.waiting(), 1u) << "the armed timer fetches again";
}

TEST_F(MonitorTest, FailuresKeepTheReadingAndBackOff) {
    Engine& m = startWithOneReset();
    const auto snapshot = m.snapshot();
    const auto records = m.records();
    answerLater(LocalizedMessage("error.timeout"));
    EXPECT_EQ(m.lastError(), LocalizedMessage("error.timeout"));
    EXPECT_EQ(m.readings().failures(), 1);
    EXPECT_EQ(m.snapshot(), snapshot);
    EXPECT_EQ(m.records(), records);
    EXPECT_TRUE(m.reading().stale);
    EXPECT_EQ(*m.readings().nextRefreshAt() - clock.now_, seconds(30));
    answerLater(LocalizedMessage("error.timeout"));
    EXPECT_EQ(*m.readings().nextRefreshAt() - clock.now_, seconds(60))
        << "doubled for the second failure";

    loop.advance(seconds(60));
    answerFetch(reading(0));
    EXPECT_EQ(m.readings().failures(), 0);
    EXPECT_FALSE(m.lastError());
}

TEST_F(MonitorTest, AChangedSourceDropsTheLateResultAndStartsAgain) {
    Engine& m = startWithOneReset();
    loop.advance(seconds(30));
    ASSERT_EQ(codex.calls.waiting(), 1u);

    Settings next = m.settings();
    next.codexHome = codexHome.string();
    m.preferences().setSettings(next);
    EXPECT_FALSE(m.snapshot());
    EXPECT_EQ(Settings::load(preferences), next);

    answerFetch(LocalizedMessage("error.timeout"));  // the old source's answer
    EXPECT_FALSE(m.lastError());
    ASSERT_EQ(codex.calls.waiting(), 1u) << "a fetch for the new source";
    EXPECT_EQ(codex.calls.requests().back().homePath, codexHome.string());
    answerFetch(reading(10));
    EXPECT_TRUE(m.snapshot());

    // Only the interval: the timer is re-armed, nothing is fetched.
    next.refreshInterval = 120;
    m.preferences().setSettings(next);
    loop.drain();
    EXPECT_EQ(codex.calls.waiting(), 0u);
    EXPECT_EQ(*m.readings().nextRefreshAt() - clock.now_, scheduled(m.snapshot(), clock.now_, 120));

    // Any other choice leaves the next reading where it was.
    const auto due = m.readings().nextRefreshAt();
    loop.advance(seconds(10));
    next.notificationSound = false;
    m.preferences().setSettings(next);
    m.preferences().setStyle(MenuBarStyle::rings);
    loop.drain();
    EXPECT_EQ(m.readings().nextRefreshAt(), due);
    EXPECT_EQ(codex.calls.waiting(), 0u);
}

TEST_F(MonitorTest, SaveAndConnectValidatesTrimsAndReports) {
    Engine& m = started();
    answerFetch(reading(10));

    // Only spaces is the automatic choice, which finds nothing on Linux.
    m.saveAndConnect("   ", codexHome.string());
    EXPECT_EQ(m.readings().sourceConnection().message(), LocalizedMessage("error.executable"));
    EXPECT_EQ(m.settings().codexPath, "");

    const std::string executable = test::FakeCodexHome::executable();
    m.saveAndConnect(" " + executable + "\n", " " + codexHome.string() + " ");
    EXPECT_EQ(m.settings().codexPath, executable);
    EXPECT_EQ(m.settings().codexHome, codexHome.string());
    EXPECT_EQ(m.readings().sourceConnection().message(), LocalizedMessage("source.saved"));
    loop.drain();
    ASSERT_EQ(codex.calls.waiting(), 1u) << "exactly one fetch answers the feedback";
    answerFetch(reading(10));
    EXPECT_EQ(m.readings().sourceConnection().message(), LocalizedMessage("status.connected"));

    m.saveAndConnect(executable, codexHome.string());
    loop.drain();
    answerFetch(LocalizedMessage("error.login"));
    EXPECT_EQ(m.readings().sourceConnection().message(), LocalizedMessage("error.login"));
}

TEST_F(MonitorTest, DeliversOnceAndRetriesWithGrowingPauses) {
    startWithOneReset(/*webhook=*/true);
    ASSERT_EQ(webhooks.calls.waiting(), 1u);
    EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.delivering"));
    EXPECT_EQ(StateStore(data()).load().state.records[0].webhookAttempts, 1)
        << "the attempt is on disk before the send";

    for (int attempt = 1; attempt <= 2; ++attempt) {
        answerWebhook(unavailable);
        EXPECT_EQ(onlyRecord().webhookStatus,
                  LocalizedMessage("webhook.retrying", {std::to_string(attempt)}));
        EXPECT_EQ(onlyRecord().nextAttemptAt, clock.now_ + seconds(60 * attempt));
        loop.advance(seconds(60 * attempt) - seconds(1));
        EXPECT_EQ(webhooks.calls.waiting(), 0u) << "not due yet";
        loop.advance(seconds(10));
        ASSERT_EQ(webhooks.calls.waiting(), 1u);
    }
    answerWebhook(unavailable);
    EXPECT_EQ(onlyRecord().webhookStatus, unavailable.message);
    EXPECT_FALSE(onlyRecord().webhookPending);
    EXPECT_EQ(onlyRecord().webhookAttempts, 3);
    loop.advance(seconds(600));
    EXPECT_EQ(webhooks.calls.requests().size(), 3u);
    EXPECT_FALSE(monitor->isDelivering());
}

// A model's bucket and a Codex window of another length are detected like the five-hour one:
// recorded in the history, announced by nothing yet, and never in the way of Codex's own.
TEST_F(MonitorTest, OtherBucketsResetsAndWarningsAreRecordedAndNotAnnounced) {
    started(/*webhook=*/true);
    const auto withOthers = [&](double codexUsed, double monthUsed, double sparkUsed) {
        UsageSnapshot snapshot = reading(codexUsed);
        snapshot.buckets[0].secondary = RateWindow{monthUsed, 43200};
        snapshot.buckets.push_back(
            RateBucket{"codex_bengalfox", "GPT-5.3-Codex-Spark", RateWindow{sparkUsed, 300}});
        return snapshot;
    };
    answerFetch(withOthers(20, 70, 50));
    answerLater(withOthers(0, 0, 0));
    loop.drain();

    EXPECT_EQ(monitor->records().size(), 1u) << "only Codex's five-hour reset is owed";
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(webhooks.calls.requests().size(), 1u);
    const MonitorState saved = StateStore(data()).load().state;
    ASSERT_EQ(saved.otherRecords.size(), 2u);
    EXPECT_EQ(saved.otherRecords[0].event.title(), "GPT-5.3-Codex-Spark: 5-hour limit reset");
    EXPECT_EQ(saved.otherRecords[1].event.title(), "Codex: 30-day limit reset");
    for (const EventRecord& record : saved.otherRecords) {
        EXPECT_FALSE(record.localPending || record.webhookPending);
        EXPECT_EQ(record.localStatus, LocalizedMessage("history.recorded_only"));
    }

    // Once: the next reading finds nothing new.
    loop.advance(seconds(60));
    answerFetch(withOthers(0, 0, 0));
    EXPECT_EQ(StateStore(data()).load().state.otherRecords.size(), 2u);

    // Their levels are recorded the same way: the 30-day window's and Spark's, no one told.
    loop.advance(seconds(60));
    answerFetch(withOthers(0, 80, 95));
    loop.drain();
    const MonitorState warned = StateStore(data()).load().state;
    EXPECT_TRUE(warned.warnings.empty());
    ASSERT_EQ(warned.otherWarnings.size(), 2u);
    EXPECT_EQ(warned.otherWarnings[0].event.bucketId, "codex_bengalfox");
    EXPECT_EQ(warned.otherWarnings[0].event.levelPercent, 10);
    EXPECT_EQ(warned.otherWarnings[1].event.window, quotaWindowFromMinutes(43200));
    EXPECT_EQ(warned.otherWarnings[1].localStatus, LocalizedMessage("history.recorded_only"));
    EXPECT_EQ(center.posted.size(), 1u);
}

TEST_F(MonitorTest, TheChosenOtherBucketsAreAnnouncedOnceAndTheRestOnlyRecorded) {
    WarningPreferences{.webhook = true, .buckets = {"codex_bengalfox"}}.save(preferences);
    Engine& m = started(/*webhook=*/true);
    const auto withOthers = [&](double codexUsed, double sparkUsed, double otherUsed) {
        UsageSnapshot snapshot = reading(codexUsed);
        snapshot.buckets.push_back(
            RateBucket{"codex_bengalfox", "GPT-5.3-Codex-Spark", RateWindow{sparkUsed, 300}});
        snapshot.buckets.push_back(RateBucket{"codex_other", "Other", RateWindow{otherUsed, 300}});
        return snapshot;
    };
    answerFetch(withOthers(20, 50, 50));
    answerLater(withOthers(20, 0, 0));
    answerWebhook();
    ASSERT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(center.posted[0].subtitle, "GPT-5.3-Codex-Spark: 5-hour limit");
    ASSERT_EQ(webhooks.calls.requests().size(), 1u);
    EXPECT_EQ(webhooks.calls.requests()[0].event.bucketId, "codex_bengalfox");
    EXPECT_TRUE(m.records().empty()) << "the Codex bucket's list stays the Codex bucket's";
    ASSERT_EQ(m.otherRecords().size(), 2u);
    const auto record = [&](const char* bucket) {
        return *std::find_if(m.otherRecords().begin(), m.otherRecords().end(),
                             [&](const EventRecord& r) { return r.event.bucketId == bucket; });
    };
    EXPECT_EQ(record("codex_bengalfox").webhookStatus, LocalizedMessage("webhook.delivered"));
    EXPECT_EQ(record("codex_other").localStatus, LocalizedMessage("history.recorded_only"));

    // Its warnings too; nothing is announced twice, after a restart neither.
    answerLater(withOthers(20, 95, 95));
    answerWebhook();
    EXPECT_EQ(center.posted.size(), 2u);
    EXPECT_EQ(center.posted[1].subtitle, "GPT-5.3-Codex-Spark: 5-hour limit");
    Engine& restarted = started();
    answerFetch(withOthers(20, 96, 96));
    EXPECT_EQ(center.posted.size(), 2u);
    EXPECT_EQ(webhooks.calls.requests().size(), 2u);

    // "all" takes in the rest, from the next reset on.
    WarningPreferences every{.webhook = true, .allBuckets = true};
    restarted.preferences().setWarnings(every);
    answerLater(withOthers(20, 96, 0));
    EXPECT_EQ(center.posted.size(), 3u);
    EXPECT_EQ(center.posted[2].subtitle, "Other: 5-hour limit");

    // One still owed when the source changes stays owed, as the Codex bucket's do.
    answerWebhook(unavailable);
    Settings next = restarted.settings();
    next.codexHome = codexHome.string();
    restarted.preferences().setSettings(next);
    loop.drain();
    ASSERT_EQ(restarted.otherRecords().size(), 1u);
    EXPECT_TRUE(restarted.otherRecords()[0].webhookPending);
}

// Scheduled readings leave out the banked resets' details; one asked for, one for an opened
// dashboard and one an hour read everything, as does every reading of a Codex that does not
// know the light read.
TEST_F(MonitorTest, ScheduledReadingsAreLightAndFullOnDemandHourlyAndWhenRefused) {
    using Depth = CodexClient::Depth;
    Engine& m = started();
    const auto withCredits = [&](std::int64_t count, bool details) {
        UsageSnapshot snapshot = reading(20);
        snapshot.resetCredits = ResetCreditsSummary{count, {}};
        if (details) {
            for (std::int64_t i = 0; i < count; ++i) {
                snapshot.resetCredits->credits.push_back(
                    {"c" + std::to_string(i), "available", std::nullopt, "Reset"});
            }
        }
        snapshot.creditDetails = details;
        return snapshot;
    };
    const auto next = [&] {
        loop.advance(until(*m.readings().nextRefreshAt()));
        return codex.depths.back();
    };
    EXPECT_EQ(codex.depths.back(), Depth::full) << "the first";
    answerFetch(withCredits(2, true));
    EXPECT_EQ(next(), Depth::light);
    answerFetch(withCredits(2, false));
    ASSERT_TRUE(m.snapshot()->resetCredits);
    EXPECT_EQ(m.snapshot()->resetCredits->credits.size(), 2u) << "the full read's details kept";

    m.refresh();
    loop.drain();
    EXPECT_EQ(codex.depths.back(), Depth::full) << "asked for";
    answerFetch(withCredits(2, true));
    const std::size_t calls = codex.depths.size();
    m.viewOpened();
    loop.drain();
    EXPECT_EQ(codex.depths.size(), calls) << "a full read moments ago serves the dashboard";
    for (int i = 0; i < 2; ++i) {  // a minute of scheduled reads
        EXPECT_EQ(next(), Depth::light);
        answerFetch(withCredits(2, false));
    }
    m.viewOpened();
    loop.drain();
    EXPECT_EQ(codex.depths.back(), Depth::full) << "the dashboard opened";
    answerFetch(withCredits(2, true));

    // The count moved in a light read: the full read that says which credit comes at once.
    EXPECT_EQ(next(), Depth::light);
    answerFetch(withCredits(1, false));
    EXPECT_EQ(m.snapshot()->resetCredits->availableCount, 2) << "count and details of one read";
    ASSERT_EQ(codex.calls.waiting(), 1u);
    EXPECT_EQ(codex.depths.back(), Depth::full);
    answerFetch(withCredits(1, true));
    EXPECT_EQ(m.snapshot()->resetCredits->availableCount, 1);

    // One full read an hour after the last.
    const Date lastFull = clock.now_;
    bool full = false;
    for (int i = 0; i < 200 && !full; ++i) {
        full = next() == Depth::full;
        answerFetch(withCredits(1, full));
    }
    EXPECT_TRUE(full);
    EXPECT_GE(clock.now_ - lastFull, std::chrono::hours(1));
    EXPECT_LT(clock.now_ - lastFull, std::chrono::minutes(61));

    // A light read answered in full (Codex refused its params): every read is full from then.
    EXPECT_EQ(next(), Depth::light);
    answerFetch(withCredits(1, true));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(next(), Depth::full);
        answerFetch(withCredits(1, true));
    }
}

TEST_F(MonitorTest, OfflineKeepsTheFiguresStaleAndSaysSoNotAsAFault) {
    Engine& m = startWithOneReset();
    const auto snapshot = m.snapshot();
    answerLater(LocalizedMessage("error.offline", {"workspace routing discovery failed"}));
    EXPECT_EQ(m.snapshot(), snapshot);
    EXPECT_TRUE(m.reading().stale);
    EXPECT_TRUE(m.reading().offline());
    EXPECT_STREQ(m.reading().statusKey(), "status.offline");
    EXPECT_EQ(m.reading().error->localized(),
              "Codex could not reach its servers — check the network connection (workspace "
              "routing discovery failed)");
    EXPECT_EQ(m.readings().failures(), 1) << "backed off as any failure";
    answerLater(LocalizedMessage("error.timeout"));
    EXPECT_FALSE(m.reading().offline());
    EXPECT_STREQ(m.reading().statusKey(), "status.error");
}

// A banked reset spent while nothing resets within ten minutes is announced once; one that
// resets the window is not.
TEST_F(MonitorTest, ASpentBankedResetThatResetsNothingIsAnnouncedOnce) {
    for (const bool applied : {false, true}) {
        SCOPED_TRACE(applied ? "applied" : "not applied");
        startOver();
        Engine& m = started();
        const auto withCredits = [&](double used, std::vector<std::string> ids) {
            UsageSnapshot snapshot = reading(used);
            snapshot.resetCredits = ResetCreditsSummary{static_cast<std::int64_t>(ids.size()), {}};
            for (const std::string& id : ids) {
                snapshot.resetCredits->credits.push_back({id, "available", std::nullopt, "Spring"});
            }
            return snapshot;
        };
        answerFetch(withCredits(60, {"c1", "c2"}));
        m.refresh();
        loop.advance(seconds(20));
        answerFetch(withCredits(applied ? 0 : 60, {"c2"}));
        EXPECT_EQ(StateStore(data()).load().state.creditUses.size(), 1u) << "kept across a restart";
        for (int minute = 0; minute < 12; ++minute) {
            loop.advance(seconds(60));
            m.refresh();
            loop.drain();
            answerFetch(withCredits(applied ? 0 : 60, {"c2"}));
        }
        const auto unapplied = std::count_if(
            m.limitWarnings().begin(), m.limitWarnings().end(), [](const WarningRecord& r) {
                return r.event.reason == WarningReason::creditNotApplied;
            });
        EXPECT_EQ(unapplied, applied ? 0 : 1);
        // The reset, or the warning: one announcement either way.
        EXPECT_EQ(center.posted.size(), 1u);
        if (!applied) {
            EXPECT_EQ(center.posted.back().body, "“Spring” was used, but no limit has reset.");
        }
        EXPECT_TRUE(StateStore(data()).load().state.creditUses.empty()) << "settled";
    }
}

TEST_F(MonitorTest, DeliveryOutcomes) {
    WebhookConfiguration other = receiver;
    other.url = "http://127.0.0.1:9/other";
    struct Case {
        const char* name;
        WebhookResult first;                     // the answer to the first attempt
        std::function<void(Engine&)> meanwhile;  // while a retry waits
        LocalizedMessage webhookStatus;
    };
    const Case cases[] = {
        {"delivered", WebhookResult(), nullptr, LocalizedMessage("webhook.delivered")},
        {"refused for good", refused, nullptr, refused.message},
        {"switched off", unavailable,
         [](Engine& m) { ASSERT_TRUE(m.saveWebhook(receiver, false)); },
         LocalizedMessage("webhook.cancelled")},
        {"another receiver", unavailable,
         [&](Engine& m) { ASSERT_TRUE(m.saveWebhook(other, true)); },
         LocalizedMessage("webhook.cancelled")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startOver();
        startWithOneReset(/*webhook=*/true);
        ASSERT_EQ(webhooks.calls.waiting(), 1u);
        answerWebhook(c.first);
        if (c.meanwhile) {
            c.meanwhile(*monitor);
            loop.advance(seconds(70));
        }
        EXPECT_EQ(webhooks.calls.waiting(), 0u) << "nothing more is sent";
        EXPECT_EQ(onlyRecord().webhookStatus, c.webhookStatus);
        EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.submitted"));
        EXPECT_EQ(onlyRecord().webhookAttempts, 1);
        EXPECT_FALSE(onlyRecord().webhookPending);
    }
}

TEST_F(MonitorTest, WhatIsOwedFollowsTheSettingsOfTheMomentItIsDelivered) {
    // Owed from an earlier run: a notification, and a webhook already at its limit.
    storeOwedRecord("webhook.delivering", 3);
    Settings{.notificationsEnabled = false, .webhookEnabled = true}.save(preferences);
    make().start();
    loop.advance(seconds(10));
    EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.disabled"));
    EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.limit_reached"));
    EXPECT_TRUE(center.posted.empty());
    EXPECT_EQ(webhooks.calls.requests().size(), 0u);
}

TEST_F(MonitorTest, ChoicesThatCannotBeStoredApplyAndAreWarnedAbout) {
    preferences.failure = ENOSPC;
    Engine& m = make();
    m.preferences().setStyle(MenuBarStyle::rings);
    EXPECT_EQ(m.preferences().style(), MenuBarStyle::rings);
    EXPECT_EQ(m.persistenceWarning(), LocalizedMessage("error.system", {std::to_string(ENOSPC)}));
    preferences.failure = 0;
    Settings settings = m.settings();
    settings.refreshInterval = 60;
    m.preferences().setSettings(settings);
    EXPECT_FALSE(m.persistenceWarning());
    EXPECT_EQ(loadMenuBarStyle(preferences), MenuBarStyle::rings) << "the earlier choice too";
}

TEST_F(MonitorTest, AnInFlightStatusThatCannotBeSavedLeavesTheRecordOwed) {
    Settings{.webhookEnabled = true}.save(preferences);
    for (const bool notified : {false, true}) {
        SCOPED_TRACE(notified ? "the webhook's attempt" : "the notification's status");
        startOver();
        WebhookConfigurationStore(data()).save(receiver);
        const MonitorState stored = storeOwedRecord("webhook.waiting", 0, [&](EventRecord& record) {
            if (notified) {
                record.localPending = false;
                record.localStatus = LocalizedMessage("notification.submitted");
            }
        });
        make().start();
        // The disk fails after start-up: nothing may leave, and nothing may be lost.
        const fs::path away = dir.path() / "away";
        fs::rename(data(), away);
        std::ofstream(data()) << "not a folder";
        loop.advance(seconds(20));
        EXPECT_TRUE(center.posted.empty());
        EXPECT_TRUE(webhooks.calls.requests().empty());
        EXPECT_EQ(onlyRecord(), stored.records[0]) << "still owed, attempts uncounted";
        EXPECT_EQ(monitor->persistenceWarning(), LocalizedMessage("error.state_write"));

        fs::remove(data());
        fs::rename(away, data());
        loop.advance(seconds(10));
        EXPECT_FALSE(monitor->persistenceWarning());
        EXPECT_EQ(center.posted.size(), notified ? 0u : 1u);
        EXPECT_EQ(webhooks.calls.waiting(), 1u);
    }
}

TEST_F(MonitorTest, PermissionIsAskedForOnceAtStartAndOnlyWithNotificationsOn) {
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "notifications on" : "notifications off");
        monitor.reset();
        center.status = NotificationAuthorization::notDetermined;
        center.authorizationRequests = 0;
        Settings{.notificationsEnabled = enabled}.save(preferences);
        started();
        EXPECT_EQ(center.authorizationRequests, enabled ? 1 : 0);
        EXPECT_EQ(monitor->notifier().authorization(),
                  enabled ? NotificationAuthorization::authorized
                          : NotificationAuthorization::notDetermined);
    }
}

// Which contents cannot be read is the state store's to decide; here each kind of file.
TEST_F(MonitorTest, UnreadableStateFilesAreKeptAsideBeforeAFreshOneIsWritten) {
    storeOwedRecord("webhook.waiting", 0);
    const std::string valid = dir.read("data/Quotalume/state.json");
    const std::string truncated = valid.substr(0, valid.size() - 2);
    const fs::path outside = dir.write("elsewhere.json", valid);
    const std::pair<const char*, std::function<void(const fs::path&)>> rows[] = {
        {"truncated by two bytes", [&](const fs::path& file) { std::ofstream(file) << truncated; }},
        {"a link", [&](const fs::path& file) { fs::create_symlink(outside, file); }},
        {"a FIFO", [](const fs::path& file) { ::mkfifo(file.c_str(), 0600); }},
        {"a folder", [](const fs::path& file) { fs::create_directory(file); }},
    };
    for (const auto& [name, arrange] : rows) {
        SCOPED_TRACE(name);
        startOver();
        fs::create_directories(data());
        arrange(data() / "state.json");
        const auto kind = fs::symlink_status(data() / "state.json").type();
        started();
        const auto entries = test::entriesOf(data());
        ASSERT_EQ(entries.size(), 1u);
        const fs::path copy = data() / entries[0];
        EXPECT_THAT(entries[0], ::testing::StartsWith("state.json.unreadable-"));
        EXPECT_EQ(fs::symlink_status(copy).type(), kind);
        if (kind == fs::file_type::regular) {
            EXPECT_EQ(test::modeOf(copy), 0600u);
            EXPECT_EQ(dir.read("data/Quotalume/" + entries[0]), truncated) << "kept as it was";
        }
        EXPECT_THAT(monitor->warnings(),
                    ::testing::Contains(LocalizedMessage("error.state_kept", {copy.string()})));
        EXPECT_EQ(dir.read("elsewhere.json"), valid) << "a link's target is left alone";

        readReset();
        EXPECT_EQ(StateStore(data()).load().state.records, monitor->records()) << "begun afresh";
    }

    // One copy per start with a bad file would pile up: the newest five stay.
    startOver();
    fs::create_directories(data());
    for (std::size_t start = 1; start <= 7; ++start) {
        monitor.reset();
        std::ofstream(data() / "state.json") << "{";
        make();
        EXPECT_EQ(test::entriesOf(data()).size(), std::min<std::size_t>(start, 5));
    }
}

// A timeline that is not ours is kept aside and begun again; the engine reads and says so.
TEST_F(MonitorTest, AnUnreadableTimelineIsKeptAsideAndSaidWhileTheEngineGoesOn) {
    fs::create_directories(data());
    std::ofstream(data() / UsageTimeline::fileName) << std::string(4096, 'x');
    Engine& m = started();
    answerFetch(reading(40));
    ASSERT_TRUE(m.snapshot());
    const auto warnings = m.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].key, "timeline.kept_aside");
    UsageTimeline kept(data(), {.readOnly = true});
    EXPECT_EQ(kept.points(UsageSnapshot::fingerprint("account"), QuotaWindow::fiveHour,
                          clock.now_ - std::chrono::hours(1))
                  .size(),
              1u)
        << "the reading is in the new one";
}

// A link in the timeline's place is refused and said; the reset is recorded and announced all
// the same, and the link's target is never written.
TEST_F(MonitorTest, ATimelineThatMayNotBeUsedIsSaidWhileResetsAreAnnouncedAllTheSame) {
    fs::create_directories(data());
    dir.write("elsewhere.sqlite3", "");
    fs::create_symlink(dir.path() / "elsewhere.sqlite3", data() / UsageTimeline::fileName);
    Engine& m = startWithOneReset();
    ASSERT_EQ(m.records().size(), 1u);
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(m.warnings(),
              std::vector{LocalizedMessage("timeline.not_a_file",
                                           {(data() / UsageTimeline::fileName).string()})});
    EXPECT_EQ(dir.read("elsewhere.sqlite3"), "");
}

TEST_F(MonitorTest, AStateFileThatCanNeitherBeReadNorMovedIsNeverWrittenOver) {
    // Only the move aside fails; a save on its own would succeed, and must not happen.
    bool broken = true;
    fileOperations.rename = [&](const char* from, const char* to) {
        if (broken && std::string_view(to).find(".unreadable-") != std::string_view::npos) {
            errno = EXDEV;
            return -1;
        }
        return ::rename(from, to);
    };
    fs::create_directories(data());
    std::ofstream(data() / "state.json") << "{";
    Engine& m = make();
    EXPECT_EQ(m.persistenceWarning(),
              LocalizedMessage("error.state_stuck",
                               {(data() / "state.json").string(), std::to_string(EXDEV)}));
    m.start();
    loop.drain();
    readReset();
    loop.advance(seconds(10));
    EXPECT_TRUE(center.posted.empty()) << "nothing is announced that could not be recorded";
    EXPECT_EQ(dir.read("data/Quotalume/state.json"), "{");

    broken = false;
    loop.advance(seconds(10));
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(StateStore(data()).load().state.records, m.records());
    const auto entries = test::entriesOf(data());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(dir.read("data/Quotalume/" + entries[1]), "{") << "kept, not written over";
}

// Two apps in two sessions share one data folder.
TEST_F(MonitorTest, WithoutTheEngineLockNothingIsAnnouncedAndAfterwardsExactlyOnce) {
    fs::create_directories(data() / EngineLock::fileName);
    WebhookConfigurationStore(data()).save(receiver);
    Settings{.webhookEnabled = true}.save(preferences);
    test::FakeCodex otherCodex{loop};
    test::FakeWebhooks otherWebhooks{loop};
    test::FakeNotificationCenter otherCenter{loop};
    FolderEngineGuard firstLock(data(), {101, "quotalume", "/run/user/a"});
    FolderEngineGuard secondLock(data(), {102, "quotalume", "/run/user/b"});
    Engine first(EnginePorts{loop, clock, codex, webhooks, center, loginItems, signals, preferences,
                             firstLock, data()},
                 false);
    Engine second(EnginePorts{loop, clock, otherCodex, otherWebhooks, otherCenter, loginItems,
                              signals, preferences, secondLock, data()},
                  false);
    first.start();
    second.start();
    const auto bothRead = [&](std::initializer_list<double> readings) {
        for (double used : readings) {
            loop.drain();
            codex.calls.answer(reading(used));
            otherCodex.calls.answer(reading(used));
            loop.drain();
            loop.advance(seconds(30));
        }
    };
    const LocalizedMessage failed(
        "engine.lock_failed", {(data() / EngineLock::fileName).string(), std::to_string(EISDIR)});
    bothRead({50, 0, 40, 0});
    EXPECT_THAT(first.warnings(), ::testing::Contains(failed));
    EXPECT_THAT(second.warnings(), ::testing::Contains(failed));
    ASSERT_TRUE(first.snapshot());
    EXPECT_EQ(first.snapshot()->buckets, reading(0).buckets) << "the limits are still shown";
    EXPECT_TRUE(first.records().empty());
    EXPECT_TRUE(center.posted.empty() && otherCenter.posted.empty());
    EXPECT_TRUE(webhooks.calls.requests().empty() && otherWebhooks.calls.requests().empty());

    fs::remove(data() / EngineLock::fileName);
    // The readings asked for before the repair are only shown; the next refresh takes the lock.
    bothRead({50, 50, 0});
    loop.advance(seconds(10));
    EXPECT_EQ(center.posted.size() + otherCenter.posted.size(), 1u);
    EXPECT_EQ(webhooks.calls.requests().size() + otherWebhooks.calls.requests().size(), 1u);
    EXPECT_NE(first.holdsEngine(), second.holdsEngine());
}

TEST_F(MonitorTest, AnotherAccountOrSourceKeepsWhatIsStillOwed) {
    const std::pair<const char*, std::function<void(Engine&)>> rows[] = {
        {"another account", [&](Engine&) { answerLater(reading(20, "someone else")); }},
        {"another source",
         [&](Engine& m) {
             Settings next = m.settings();
             next.codexHome = codexHome.string();
             m.preferences().setSettings(next);
             loop.drain();
         }},
    };
    for (const auto& [name, change] : rows) {
        SCOPED_TRACE(name);
        startOver();
        startWithOneReset(/*webhook=*/true);
        webhooks.calls.answer(WebhookResult());  // the first reset is settled
        loop.advance(seconds(30));
        readReset(30);
        answerWebhook(unavailable);  // the second still owes its webhook
        ASSERT_EQ(monitor->records().size(), 2u);
        const std::string owed = monitor->records()[0].id();

        change(*monitor);
        ASSERT_EQ(monitor->records().size(), 1u);
        EXPECT_EQ(monitor->records()[0].id(), owed);
        EXPECT_EQ(StateStore(data()).load().state.records, monitor->records());
        loop.advance(seconds(60));
        ASSERT_EQ(webhooks.calls.waiting(), 1u) << "the retry goes out as planned";
        answerWebhook();
        EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.delivered"));
    }
}

// Earlier versions fingerprinted the Codex home as spelled; the resolved one keeps the history.
TEST_F(MonitorTest, AHistoryUnderAnEarlierFingerprintOfTheSameAccountCarriesOver) {
    const std::string spelled = UsageSnapshot::fingerprint("/home/u/link:acct-1");
    const std::string resolved = UsageSnapshot::fingerprint("/home/u/codex:acct-1");
    const auto read = [&](double used, const std::string& fingerprint,
                          std::optional<std::string> legacy = std::nullopt) {
        UsageSnapshot snapshot = reading(used);
        snapshot.accountFingerprint = fingerprint;
        snapshot.legacyFingerprint = std::move(legacy);
        answerFetch(snapshot);
    };
    // The earlier version's run: one reset, settled, which another account's history would drop.
    started();
    read(50, spelled);
    loop.advance(seconds(30));
    read(0, spelled);
    monitor.reset();

    // The upgrade: same account, new fingerprint.
    loop.advance(seconds(30));
    started();
    read(40, resolved, spelled);
    loop.advance(seconds(30));
    read(0, resolved);
    ASSERT_EQ(monitor->records().size(), 2u) << "the history stays and 40 % → 0 % is a reset";
    const MonitorState stored = StateStore(data()).load().state;
    EXPECT_EQ(stored.snapshot->accountFingerprint, resolved);
    EXPECT_EQ(stored.detector.accountFingerprint(), resolved);
    EXPECT_FALSE(stored.snapshot->legacyFingerprint);
}

// Which files cannot be used is the store's to decide; here each way it refuses one.
TEST_F(MonitorTest, AWebhookConfigurationThatCannotBeUsedIsWarnedAboutAndNamedInTheHistory) {
    const auto to = [](const std::string& url) {
        return R"({"bearerToken":"","format":"json","signingSecret":"","url":")" + url + "\"}";
    };
    const struct {
        const char* name;
        std::optional<std::string> content;  // none: no file
        mode_t mode;
        LocalizedMessage warning;
    } rows[] = {
        {"no address", std::nullopt, 0600, "error.webhook_missing"},
        {"readable by others", to("https://example.com/h"), 0644,
         LocalizedMessage("error.config_shared", {(data() / "webhook.json").string()})},
        {"plain http to another host", to("http://192.168.1.5/h"), 0600, "error.https"},
    };
    Settings{.webhookEnabled = true}.save(preferences);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        startOver();
        fs::create_directories(data());
        if (row.content) {
            ::chmod(dir.write("data/Quotalume/webhook.json", *row.content).c_str(), row.mode);
        }
        startWithOneReset();
        EXPECT_EQ(monitor->warnings(), std::vector<LocalizedMessage>{row.warning});
        EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.unusable"));
        EXPECT_TRUE(webhooks.calls.requests().empty());

        fs::remove(data() / "webhook.json");
        WebhookConfigurationStore(data()).save(receiver);
        answerLater(reading(40));
        EXPECT_TRUE(monitor->warnings().empty()) << "read again at the next refresh";
    }
}

TEST_F(MonitorTest, InterruptedNotificationsAndUnreadablePreferencesAreNamedForWhatTheyAre) {
    storeOwedRecord("webhook.delivered", 1, [](EventRecord& record) {
        record.localPending = record.webhookPending = false;
        record.localStatus = LocalizedMessage("notification.submitting");
    });
    preferences.unreadable = "/home/u/.config/Quotalume/defaults.json";
    Engine& m = make();
    EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.unconfirmed"));
    EXPECT_EQ(m.warnings(), std::vector<LocalizedMessage>{LocalizedMessage(
                                "error.preferences_unreadable", {*preferences.unreadable})});
    m.preferences().setStyle(MenuBarStyle::rings);
    EXPECT_TRUE(m.warnings().empty()) << "the next write keeps the file aside";

    // A server that answers after the call's bound may still have shown it.
    center.postFailure = LocalizedMessage("notification.unconfirmed");
    m.start();
    loop.drain();
    readReset();
    EXPECT_EQ(m.records()[0].localStatus, LocalizedMessage("notification.unconfirmed"));
}

TEST_F(MonitorTest, DemoModeTouchesNothing) {
    Engine& m = make(/*demo=*/true);
    m.start();
    m.refresh();
    m.deliverPending();
    Settings next = m.settings();
    next.codexHome = codexHome.string();
    m.preferences().setSettings(next);
    m.preferences().setStyle(MenuBarStyle::rings);
    m.saveAndConnect("", "");
    m.testWebhook(receiver);
    m.testNotification();
    EXPECT_TRUE(m.saveWebhook(receiver, true));
    m.setLaunchAtLogin(true);
    loop.advance(seconds(600));

    EXPECT_EQ(codex.calls.requests().size(), 0u);
    EXPECT_EQ(webhooks.calls.requests().size(), 0u);
    EXPECT_TRUE(center.posted.empty());
    EXPECT_FALSE(m.readings().nextRefreshAt());
    EXPECT_EQ(loop.activeTimers(), 0u) << "no window shows the time";
    EXPECT_FALSE(fs::exists(dir.path() / "data"));
    EXPECT_EQ(preferences.writes, 0);
    EXPECT_EQ(loginItems.current, LoginItemStatus::disabled);
    EXPECT_EQ(m.settings(), next) << "changes are kept in memory";
    EXPECT_EQ(m.readings().sourceConnection().message(), LocalizedMessage("status.demo"));
    EXPECT_EQ(m.setup().webhookFeedback(), LocalizedMessage("webhook.demo"));
    EXPECT_EQ(L10n::text(m.reading().statusKey()), L10n::text("status.demo"));
    EXPECT_EQ(m.reading().visibleWindows().size(), 2u);
}

TEST_F(MonitorTest, NothingTicksWhileNoWindowShowsTheTimeAndNothingIsOwed) {
    Engine& m = startWithOneReset();
    int published = 0;
    const auto subscription = m.subscribe([&] { ++published; });
    EXPECT_EQ(loop.activeTimers(), 2u) << "the next reading and the moment it goes stale";
    m.showClock(true);
    loop.advance(seconds(3));
    EXPECT_EQ(published, 4) << "shown at once, then every second";
    m.showClock(false);
    EXPECT_EQ(loop.activeTimers(), 2u);
    published = 0;
    loop.advance(until(*m.readings().nextRefreshAt()) - seconds(1));
    EXPECT_EQ(published, 0);

    // A reading that never ends: the badge still shows the moment the figures are stale.
    loop.advance(seconds(1));
    ASSERT_EQ(codex.calls.waiting(), 1u);
    const Date stale = m.snapshot()->observedAt + seconds(90);
    loop.advance(until(stale));
    EXPECT_FALSE(m.reading().stale);
    published = 0;
    loop.advance(seconds(1));
    EXPECT_TRUE(m.reading().stale);
    EXPECT_EQ(published, 1);
}

TEST_F(MonitorTest, AReadingIsWrittenWhenARestartNeedsItAndAtLeastEveryQuarterHour) {
    Engine& m = started();
    const auto storedAt = [&] { return StateStore(data()).load().state.snapshot->observedAt; };
    const auto next = [&](double used, double resetsAt = 1'800'003'600) {
        loop.advance(until(*m.readings().nextRefreshAt()));
        UsageSnapshot snapshot = reading(used);
        snapshot.buckets[0].primary->resetsAt = resetsAt;
        answerFetch(snapshot);
    };
    answerFetch(reading(20));
    const Date first = clock.now_;
    next(20);
    EXPECT_EQ(storedAt(), first) << "only the time changed";
    next(21);
    EXPECT_EQ(storedAt(), clock.now_) << "a figure changed";
    next(21, 1'800'003'601);
    EXPECT_EQ(storedAt(), clock.now_) << "the reset time moved";
    const Date written = clock.now_;
    while (clock.now_ - written < std::chrono::minutes(15)) {
        EXPECT_EQ(storedAt(), written);
        next(21, 1'800'003'601);
    }
    EXPECT_EQ(storedAt(), clock.now_) << "a quarter of an hour at most";
    next(21, 1'800'003'601);
    const Date latest = clock.now_;
    monitor.reset();
    EXPECT_EQ(storedAt(), latest) << "quitting writes the reading it skipped";
}

// NothingTicksWhileNoWindowShowsTheTime… checks the ninety-second floor.
TEST_F(MonitorTest, StaleAfterTwiceTheIntervalOrNinetySeconds) {
    Settings{.refreshInterval = 120}.save(preferences);
    Engine& m = started();
    m.showClock(true);  // the dashboard open: every second is seen, the limit's own too
    answerFetch(reading(10));
    loop.advance(seconds(240));
    EXPECT_FALSE(m.reading().stale);
    loop.advance(seconds(1));
    EXPECT_TRUE(m.reading().stale);
}

TEST_F(MonitorTest, TestsSettingsAndTheLoginItem) {
    Engine& m = started();
    m.testWebhook(receiver);
    m.testWebhook(receiver);
    loop.drain();
    ASSERT_EQ(webhooks.calls.requests().size(), 1u) << "a second press while testing is dropped";
    EXPECT_TRUE(webhooks.calls.requests()[0].isTest);
    answerWebhook();
    EXPECT_EQ(m.setup().webhookFeedback(), LocalizedMessage("webhook.test_success"));
    EXPECT_TRUE(m.records().empty());

    center.status = NotificationAuthorization::denied;
    m.testNotification();
    loop.drain();
    EXPECT_EQ(m.setup().notificationFeedback(), LocalizedMessage("notification.unauthorized"));

    EXPECT_TRUE(m.saveWebhook({"", WebhookFormat::json, "", ""}, false));
    EXPECT_EQ(m.setup().webhookFeedback(), LocalizedMessage("webhook.saved_off"));
    EXPECT_FALSE(m.saveWebhook({"ftp://example.com", WebhookFormat::json, "", ""}, true));
    EXPECT_EQ(m.setup().webhookFeedback(), LocalizedMessage("error.https"));

    loginItems.whenRegistered = LoginItemStatus::approvalRequired;
    m.setLaunchAtLogin(true);
    EXPECT_EQ(m.setup().loginItemFeedback(), LocalizedMessage("login.approval"));
}

using LocalNotifierTest = MonitorTest;

TEST_F(LocalNotifierTest, PermissionContentAndIdentity) {
    int changes = 0;
    LocalNotifier notifier(center, [&] { ++changes; });
    std::vector<std::optional<LocalizedMessage>> outcomes;
    auto record = [&](std::optional<LocalizedMessage> outcome) { outcomes.push_back(outcome); };
    ResetEvent event = ResetEvent::test(clock.now_);
    event.bucketId = "codex";

    const struct {
        const char* name;
        NotificationAuthorization status;
        const char* outcome;
        const char* statusKey;
    } refusals[] = {
        {"refused", NotificationAuthorization::denied, "notification.unauthorized",
         "notification.denied"},
        {"no service running", NotificationAuthorization::unavailable, "notification.no_service",
         "notification.no_service"},
    };
    for (const auto& row : refusals) {
        center.status = row.status;
        notifier.send(event, true, false, {}, record);
        loop.drain();
        EXPECT_EQ(outcomes.back(), LocalizedMessage(row.outcome)) << row.name;
        EXPECT_TRUE(center.posted.empty()) << row.name;
        EXPECT_EQ(notifier.statusText(), L10n::text(row.statusKey)) << row.name;
    }

    center.status = NotificationAuthorization::provisional;
    notifier.send(event, false, false, {}, record);
    notifier.send(event, true, true, {}, record);
    loop.drain();
    EXPECT_EQ(outcomes.back(), LocalizedMessage("notification.submitted"));
    ASSERT_EQ(center.posted.size(), 2u);
    EXPECT_EQ(center.posted[0].title, event.notificationTitle());
    EXPECT_EQ(center.posted[0].subtitle, title(event.window));
    EXPECT_FALSE(center.posted[0].sound);
    EXPECT_EQ(center.posted[1].title, L10n::text("notification.test_title"));
    EXPECT_EQ(center.posted[1].subtitle, "");
    EXPECT_EQ(center.posted[1].body, L10n::text("notification.test_body"));
    EXPECT_EQ(center.posted[0].identifier, center.posted[1].identifier)
        << "the same event replaces its notification";
    EXPECT_EQ(changes, 3) << "refused, no service, then allowed";

    center.postFailure = LocalizedMessage("error.system", {"5"});
    notifier.send(event, true, false, {}, record);
    loop.drain();
    EXPECT_EQ(outcomes.back(), std::nullopt);

    center.status = NotificationAuthorization::ephemeral;
    notifier.refreshPermission();
    loop.drain();
    EXPECT_EQ(notifier.statusText(), L10n::text("notification.undetermined"));
}

TEST_F(MonitorTest, AReceiverWithoutTheWarningsSwitchGetsNoWarning) {
    Engine& monitor = started(true);  // warnings.webhook never stored
    answerFetch(reading(95));
    ASSERT_EQ(monitor.limitWarnings().size(), 1u);
    EXPECT_EQ(monitor.limitWarnings().front().webhookStatus, LocalizedMessage("webhook.disabled"));
    EXPECT_TRUE(webhooks.calls.requests().empty());
    EXPECT_EQ(center.posted.size(), 1u);
    // Resets are announced as before.
    answerLater(reading(0));
    ASSERT_EQ(monitor.records().size(), 1u);
    EXPECT_EQ(webhooks.calls.requests().size(), 1u);
}

TEST_F(MonitorTest, SwitchingTheReceiversWarningsOffCancelsWhatIsOwed) {
    WarningPreferences{.webhook = true}.save(preferences);
    Engine& monitor = started(true);
    answerFetch(reading(95));
    answerWebhook(unavailable);
    ASSERT_EQ(monitor.limitWarnings().front().webhookStatus,
              LocalizedMessage("webhook.retrying", {"1"}));
    monitor.preferences().setWarnings({.webhook = false});
    EXPECT_EQ(WarningPreferences::load(preferences).webhook, false);
    loop.advance(seconds(60));
    EXPECT_EQ(monitor.limitWarnings().front().webhookStatus, LocalizedMessage("webhook.cancelled"));
    EXPECT_FALSE(monitor.limitWarnings().front().webhookPending);
    EXPECT_EQ(webhooks.calls.requests().size(), 1u);
}

TEST_F(MonitorTest, ABlockedAccountIsShownAndWarnedOfWhateverThePercentages) {
    Engine& monitor = started();
    UsageSnapshot blocked = reading(10);
    blocked.ordinaryUsageAllowed = false;
    answerFetch(blocked);
    ASSERT_TRUE(monitor.reading().blocked());
    EXPECT_EQ(monitor.reading().blocked()->reason, "usage_not_allowed");
    EXPECT_TRUE(monitor.reading().title().starts_with("\u2298 ")) << monitor.reading().title();
    ASSERT_EQ(monitor.limitWarnings().size(), 1u);
    EXPECT_EQ(monitor.limitWarnings().front().event.reason, WarningReason::usageNotAllowed);
    answerLater(reading(10));
    EXPECT_FALSE(monitor.reading().blocked());
    EXPECT_EQ(monitor.limitWarnings().size(), 1u);
}

// Warnings live in a member of their own: a build that does not know it keeps its resets, and a
// state without warnings is written as before.
TEST_F(MonitorTest, WarningsNeverDisturbTheResetHistoryOnDisk) {
    Engine& monitor = startWithOneReset();
    const std::string before = *readSmallFile(data() / "state.json", 1 << 22);
    EXPECT_FALSE(nlohmann::json::parse(before).contains("warnings"));
    answerLater(reading(95));
    ASSERT_EQ(monitor.limitWarnings().size(), 1u);

    nlohmann::json stored = nlohmann::json::parse(*readSmallFile(data() / "state.json", 1 << 22));
    ASSERT_TRUE(stored.contains("warnings"));
    EXPECT_EQ(stored["records"], nlohmann::json::parse(before)["records"]);
    stored.erase("warnings");  // what an older build reads
    EXPECT_EQ(stored.get<MonitorState>().records, monitor.records());

    // Their own cap: a hundred warnings push no reset out.
    MonitorState full = stored.get<MonitorState>();
    for (int i = 0; i < 150; ++i) {
        WarningRecord warning;
        warning.event.id = std::to_string(i);
        warning.event.observedAt = clock.now_;
        full.warnings.push_back(warning);
    }
    StateStore(data()).save(full);
    const LoadedState loaded = StateStore(data()).load();
    EXPECT_EQ(loaded.state.warnings.size(), MonitorState::maximumWarnings);
    EXPECT_EQ(loaded.state.records.size(), 1u);

    // A warning this version cannot read (a reason a later one added) costs nothing else.
    StateStore(data()).save(loaded.state);
    nlohmann::json later = nlohmann::json::parse(*readSmallFile(data() / "state.json", 1 << 22));
    later["warnings"][0]["event"]["reason"] = "reason_of_a_later_version";
    later["warnings"].push_back(later["warnings"][1]);  // and one id twice: the first stands
    replaceFileAtomically(data() / "state.json", later.dump(), ".test.tmp");
    const LoadedState lenient = StateStore(data()).load();
    EXPECT_FALSE(lenient.warning);
    EXPECT_EQ(lenient.state.records, monitor.records());
    EXPECT_EQ(lenient.state.warnings.size(), MonitorState::maximumWarnings - 1);
}

// A full list gives up the warnings of windows that have reset, not a week's that still holds.
TEST_F(MonitorTest, AFullListOfWarningsKeepsThoseStillInForce) {
    const Date weeklyReset = clock.now_ + std::chrono::days(3);
    MonitorState stored;
    for (std::size_t i = 0; i < MonitorState::maximumWarnings; ++i) {
        WarningRecord past;
        past.event.id = "past-" + std::to_string(i);
        past.event.observedAt = clock.now_ - std::chrono::hours(10 + i);
        past.event.resetAt = clock.now_ - std::chrono::hours(5 + i);
        stored.warnings.push_back(past);
    }
    WarningRecord weekly;  // the oldest of all
    weekly.event = {.id = "weekly",
                    .observedAt = clock.now_ - std::chrono::days(4),
                    .window = QuotaWindow::weekly,
                    .resetAt = weeklyReset,
                    .levelPercent = 25};
    stored.warnings.back() = weekly;
    StateStore(data()).save(stored);

    Engine& monitor = started();
    RateBucket bucket{"codex", std::nullopt, RateWindow{80, 300, 1'800'003'600.0},
                      RateWindow{80, 10080, unixSeconds(weeklyReset)}};
    answerFetch(UsageSnapshot{clock.now_, UsageSnapshot::fingerprint("account"), {bucket}});
    ASSERT_EQ(monitor.limitWarnings().size(), MonitorState::maximumWarnings);
    EXPECT_EQ(monitor.limitWarnings().front().event.window, QuotaWindow::fiveHour);
    EXPECT_EQ(monitor.limitWarnings().back().id(), "weekly") << "still in force: kept";
    loop.advance(seconds(30));
    bucket.primary->usedPercent = 81;
    answerFetch(UsageSnapshot{clock.now_, UsageSnapshot::fingerprint("account"), {bucket}});
    EXPECT_EQ(center.posted.size(), 1u) << "the week's warning was not given again";
}

// The clock set back two hours across a restore to full, then forward again: one reset, told
// once.
TEST_F(MonitorTest, AClockSetBackAcrossARestoreAnnouncesItOnce) {
    Engine& monitor = started();
    answerFetch(reading(50));
    clock.now_ -= std::chrono::hours(2);
    monitor.refresh();
    loop.drain();
    answerFetch(reading(0));
    ASSERT_EQ(monitor.records().size(), 1u) << "restored while the clock was behind";
    clock.now_ += std::chrono::hours(2) + std::chrono::minutes(1);
    for (double used : {0.0, 3.0}) {
        monitor.refresh();
        loop.drain();
        answerFetch(reading(used));
    }
    EXPECT_EQ(monitor.records().size(), 1u);
    EXPECT_EQ(center.posted.size(), 1u);
}

// A reset time that is no time between two sound ones is the same occurrence of the window:
// the level warned of is not warned of again, and nothing goes out twice.
TEST_F(MonitorTest, AnUnsoundResetTimeIsNoNewOccurrence) {
    WarningPreferences{.webhook = true}.save(preferences);
    Engine& monitor = started(true);
    answerFetch(reading(80));
    answerWebhook();
    ASSERT_EQ(monitor.limitWarnings().size(), 1u);
    const WarningRecord& record = monitor.limitWarnings().front();
    EXPECT_EQ(record.event.levelPercent, 25);
    ASSERT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(center.posted[0].identifier, record.id());
    EXPECT_EQ(center.posted[0].title, record.event.headline());
    for (std::optional<double> unsound :
         {std::optional<double>(), std::optional(0.0), std::optional(-1.0), std::optional(1e18),
          std::optional(1'800'003'600.0 + 30 * 86400)}) {
        loop.advance(seconds(30));
        UsageSnapshot odd = reading(81);
        odd.buckets[0].primary->resetsAt = unsound;
        answerFetch(odd);
        answerLater(reading(82));
    }
    EXPECT_EQ(monitor.limitWarnings().size(), 1u);
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(webhooks.calls.requests().size(), 1u);
    EXPECT_TRUE(monitor.records().empty());
}

// A window whose length is no length is named among the standing warnings, not lost.
TEST_F(MonitorTest, AWindowOfUnusableLengthIsNamed) {
    Engine& monitor = started();
    UsageSnapshot odd = reading(10);
    odd.buckets[0].secondary = RateWindow{20, std::int64_t{1} << 62, std::nullopt};
    odd.buckets[0].primary->windowDurationMins = 0;
    answerFetch(odd);
    using ::testing::Contains;
    EXPECT_THAT(monitor.warnings(), Contains(LocalizedMessage("quota.window_unusable", {"0"})));
    EXPECT_THAT(monitor.warnings(),
                Contains(LocalizedMessage("quota.window_unusable",
                                          {std::to_string(std::int64_t{1} << 62)})));
}

// A window restored to full again and again under one reset time: each restore is a reset,
// and each re-arms the level, which is warned of once per occurrence.
TEST_F(MonitorTest, EachRestoreToFullRearmsTheWarningsOfAnUnchangedResetTime) {
    Engine& monitor = started();
    for (std::size_t round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        answerFetch(reading(80));
        answerLater(reading(85));
        EXPECT_EQ(monitor.limitWarnings().size(), round) << "once per occurrence";
        answerLater(reading(0));
        EXPECT_EQ(monitor.records().size(), round);
        loop.advance(seconds(30));
    }
    EXPECT_EQ(center.posted.size(), 6u) << "three warnings and three resets";
}

// Two Codex homes beside the first source, each answering for its own account.
class SourcesTest : public MonitorTest {
protected:
    SourcesTest() {
        for (const fs::path& home : {workHome, sharedHome}) {
            fs::create_directories(home);
        }
    }

    using Sources = std::vector<std::pair<std::string, fs::path>>;

    void setSources(const Sources& others) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& [label, home] : others) {
            list.push_back({{"label", label}, {"codexHome", home.string()}, {"codexPath", ""}});
        }
        monitor->preferences().set("sources", list.dump());
        loop.drain();
    }

    // Started with `others` (Work unless said) beside the first source, the webhook on.
    void startWithWork(const Sources& others = {}) {
        make();
        setSources(others.empty() ? Sources{{"Work", workHome}} : others);
        monitor->start();
        enableWebhook();
        loop.drain();
    }

    // Answers every reading asked for, each home's with its own, until none waits: never more
    // than one at a time.
    void answerSources(double personal, double work) {
        while (codex.calls.waiting() > 0) {
            EXPECT_EQ(codex.calls.waiting(), 1u) << "one Codex at a time";
            const std::string home = codex.calls.requests().back().homePath;
            // Another home signed into the same account: another fingerprint, the same id.
            UsageSnapshot shared = reading(work, sharedHome.string() + ":personal");
            shared.accountKey = UsageSnapshot::fingerprint(":personal");
            UsageSnapshot answer = home == workHome.string()     ? reading(work, "work")
                                   : home == sharedHome.string() ? shared
                                                                 : reading(personal, "personal");
            if (!answer.accountKey) {
                answer.accountKey =
                    UsageSnapshot::fingerprint(home == workHome.string() ? ":work" : ":personal");
            }
            answerFetch(std::move(answer));
        }
    }

    // The stored history of the account the fake names `account`.
    static const AccountState& storedAccount(const LoadedState& stored,
                                             const std::string& account) {
        const auto found = std::find_if(
            stored.accounts.begin(), stored.accounts.end(), [&](const AccountState& kept) {
                return kept.fingerprint == UsageSnapshot::fingerprint(account);
            });
        EXPECT_NE(found, stored.accounts.end()) << account;
        return found == stored.accounts.end() ? stored.accounts.at(0) : *found;
    }

    std::vector<const test::SentWebhook*> sentResets() const {
        std::vector<const test::SentWebhook*> resets;
        for (const test::SentWebhook& sent : webhooks.calls.requests()) {
            if (!sent.warning) {
                resets.push_back(&sent);
            }
        }
        return resets;
    }

    const fs::path workHome = dir.path() / "work";
    const fs::path sharedHome = dir.path() / "shared";
};

TEST_F(SourcesTest, EachSourceIsReadInTurnAndAResetIsAnnouncedOnceUnderItsLabel) {
    startWithWork();
    answerSources(30, 92);
    ASSERT_EQ(codex.calls.requests().size(), 2u);
    EXPECT_EQ(codex.calls.requests()[0].homePath, "");
    EXPECT_EQ(codex.calls.requests()[1].homePath, workHome.string());

    const EngineReading& shown = monitor->reading();
    ASSERT_EQ(shown.accounts.size(), 1u);
    EXPECT_EQ(shown.label, "Default");
    EXPECT_EQ(shown.accounts[0].label, "Work");
    EXPECT_EQ(shown.account("closest").label, "Work") << "8 % left against 70 %";
    EXPECT_EQ(shown.account("Default").label, "Default");
    EXPECT_EQ(shown.sourceLines(), "Default: 5H 70% left\nWork: 5H 8% left");
    EXPECT_EQ(shown.message(clock.now_)["view"]["accounts"][0]["label"], "Work");
    const EngineReading passed = EngineReading::fromMessage(shown.message(clock.now_));
    ASSERT_EQ(passed.accounts.size(), 1u);
    EXPECT_EQ(passed.accounts[0].label, "Work");
    EXPECT_EQ(passed.accounts[0].title(), "5H 8%");

    loop.advance(seconds(30));
    answerSources(31, 0);  // Work's window resets
    ASSERT_EQ(sentResets().size(), 1u);
    const ResetEvent& announced = sentResets()[0]->event;
    EXPECT_EQ(announced.accountLabel, std::optional<std::string>("Work"));
    EXPECT_THAT(WebhookPayload(announced, false).encoded(),
                ::testing::HasSubstr(R"("account_label":"Work")"));
    EXPECT_EQ(std::count_if(center.posted.begin(), center.posted.end(),
                            [](const NotificationRequest& posted) {
                                return posted.title == "Work: Codex limit reset";
                            }),
              1);
    EXPECT_TRUE(monitor->records().empty()) << "the first source's account reset nothing";
    answerWebhook();

    loop.advance(seconds(30));
    answerSources(32, 1);
    loop.advance(seconds(120));
    EXPECT_EQ(sentResets().size(), 1u) << "announced once";
    const LoadedState stored = StateStore(data()).load();
    ASSERT_EQ(stored.accounts.size(), 1u);
    EXPECT_EQ(stored.accounts[0].label, "Work");
    EXPECT_EQ(stored.accounts[0].fingerprint, UsageSnapshot::fingerprint("work"));
    ASSERT_EQ(stored.accounts[0].state.records.size(), 1u);
    EXPECT_EQ(stored.accounts[0].state.records[0].webhookStatus,
              LocalizedMessage("webhook.delivered"));
    EXPECT_TRUE(stored.state.records.empty());
}

// Critical only where the user must act now: each warning by its own level against the levels
// chosen, whichever account and bucket it is of, several in one pass.
TEST_F(SourcesTest, EachWarningsUrgencyIsItsOwnAcrossAccountsAndBuckets) {
    WarningPreferences{.levels = {50, 10}, .forecast = false, .allBuckets = true}.save(preferences);
    startWithWork();
    const auto answer = [&](double codexUsed, double otherUsed, const std::string& account) {
        UsageSnapshot snapshot = reading(codexUsed, account);
        snapshot.buckets.push_back(RateBucket{"codex_other", "Other", RateWindow{otherUsed, 300}});
        answerFetch(snapshot);
    };
    const auto readAll = [&](double personalCodex, double personalOther, double workCodex,
                             double workOther) {
        while (codex.calls.waiting() > 0) {
            const bool work = codex.calls.requests().back().homePath == workHome.string();
            work ? answer(workCodex, workOther, "work")
                 : answer(personalCodex, personalOther, "personal");
        }
    };
    readAll(60, 92, 70, 100);
    using enum NotificationUrgency;
    const std::map<std::string, NotificationUrgency> expected = {
        {"Default: Codex limit running low | 5-hour limit", normal},           // 40 % left: 50
        {"Default: Codex limit running low | Other: 5-hour limit", critical},  // 8 % left: 10
        {"Work: Codex limit running low | 5-hour limit", normal},              // 30 % left: 50
        {"Work: Codex limit reached | Other: 5-hour limit", critical},         // used up
    };
    std::map<std::string, NotificationUrgency> posted;
    for (const NotificationRequest& request : center.posted) {
        EXPECT_EQ(request.kind, NotificationKind::warning) << request.title;
        posted[request.title + " | " + request.subtitle] = request.urgency;
    }
    EXPECT_EQ(posted, expected);
}

TEST_F(SourcesTest, ARemovedSourcesHistoryStaysAndShowsAgainWhenItComesBack) {
    startWithWork();
    answerSources(30, 92);
    loop.advance(seconds(30));
    answerSources(30, 0);
    answerWebhook();

    setSources({});
    EXPECT_TRUE(monitor->reading().accounts.empty());
    EXPECT_TRUE(monitor->reading().label.empty()) << "one source: named as before";
    ASSERT_EQ(StateStore(data()).load().accounts.size(), 1u) << "kept on disk";

    setSources({{"Work", workHome}});
    ASSERT_EQ(monitor->reading().accounts.size(), 1u);
    ASSERT_TRUE(monitor->reading().accounts[0].snapshot) << "its last figures, before reading";
    answerSources(30, 2);
    const LoadedState stored = StateStore(data()).load();
    ASSERT_EQ(stored.accounts.size(), 1u);
    EXPECT_EQ(stored.accounts[0].state.records.size(), 1u) << "its reset, not recorded again";
    EXPECT_EQ(sentResets().size(), 1u);
}

TEST_F(SourcesTest, AFailingSourceDelaysNoOtherAndIsSaidAsItsOwn) {
    startWithWork();
    // The first source fails; Work is read after it all the same.
    answerFetch(LocalizedMessage("error.server_exited", {"3"}));
    ASSERT_EQ(codex.calls.waiting(), 1u);
    EXPECT_EQ(codex.calls.requests().back().homePath, workHome.string());
    answerFetch(reading(40, "work"));
    const EngineReading& shown = monitor->reading();
    EXPECT_TRUE(shown.error.has_value());
    ASSERT_EQ(shown.accounts.size(), 1u);
    EXPECT_FALSE(shown.accounts[0].error.has_value());
    EXPECT_EQ(shown.accounts[0].title(), "5H 60%");
    EXPECT_EQ(shown.account("closest").label, "Work") << "a source without figures is never it";
}

TEST_F(SourcesTest, TwoSourcesOfOneAccountAreReadAndAnnouncedOnce) {
    startWithWork({{"Shared", sharedHome}});
    answerSources(50, 50);
    const EngineReading& shown = monitor->reading();
    ASSERT_EQ(shown.accounts.size(), 1u);
    EXPECT_EQ(shown.accounts[0].sameAs, std::optional<std::string>("Default"));
    EXPECT_FALSE(shown.accounts[0].snapshot);
    EXPECT_EQ(shown.labelled("Shared"), &shown) << "chosen, it shows the account it shares";
    EXPECT_EQ(&shown.account("Shared"), &shown);
    EXPECT_EQ(shown.labelled("Elsewhere"), nullptr) << "a label it does not know is no source";
    loop.advance(seconds(30));
    answerSources(0, 0);
    EXPECT_EQ(sentResets().size(), 1u);
    EXPECT_EQ(monitor->records().size(), 1u);
    EXPECT_TRUE(StateStore(data()).load().accounts.empty());
    EXPECT_EQ(monitor->reading().sourceLines(),
              "Default: 5H 100% left\nShared: Same account as Default, read once");
}

TEST_F(SourcesTest, ARenamedOrMovedSourceKeepsItsRoomAndItsAccountFollowsTheLabel) {
    startWithWork();
    answerSources(30, 92);
    fs::create_directories(dir.path() / "spare");
    setSources({{"Spare", dir.path() / "spare"}, {"Office", workHome}});
    ASSERT_EQ(codex.calls.waiting(), 1u) << "only the new source reads now";
    EXPECT_EQ(codex.calls.requests().back().homePath, (dir.path() / "spare").string());
    answerFetch(reading(10, "spare"));
    const EngineReading& shown = monitor->reading();
    ASSERT_EQ(shown.accounts.size(), 2u);
    EXPECT_EQ(shown.accounts[1].label, "Office");
    EXPECT_EQ(shown.accounts[1].title(), "5H 8%") << "its figures kept, not read again";
    EXPECT_EQ(storedAccount(StateStore(data()).load(), "work").label, "Office");
}

TEST_F(SourcesTest, ReorderingKeepsEveryAccountsHistory) {
    startWithWork();
    answerSources(50, 92);
    loop.advance(seconds(30));
    answerSources(0, 0);  // both accounts reset
    answerWebhook();
    loop.advance(seconds(10));  // the pass under way took the first; the next takes Work's
    answerWebhook();
    ASSERT_EQ(monitor->records().size(), 1u);

    // Work becomes the first source, the first one's home the second.
    Settings next = monitor->settings();
    next.codexHome = workHome.string();
    monitor->preferences().setSettings(next);
    setSources({{"Personal", codexHome}});
    loop.drain();
    answerSources(0, 0);
    ASSERT_EQ(monitor->records().size(), 1u) << "Work's own reset, back with its account";
    EXPECT_EQ(monitor->records()[0].webhookStatus, LocalizedMessage("webhook.delivered"));
    EXPECT_EQ(storedAccount(StateStore(data()).load(), "personal").state.records.size(), 1u);
    EXPECT_EQ(sentResets().size(), 2u) << "each account's reset once";
}

// The engine's reading as Prometheus reads it: a second bucket whose id carries a quote, a
// backslash and a letter beyond ASCII, one source blocked with credits, one that fails, a reset
// and both outcomes of a delivery.
class MetricsTest : public SourcesTest {
protected:
    static constexpr double fiveHourReset = 1'800'003'600.0;

    UsageSnapshot personal(double fiveHourUsed, double fiveHourReset) const {
        UsageSnapshot snapshot = reading(fiveHourUsed, "personal");
        snapshot.buckets[0].primary->resetsAt = fiveHourReset;
        snapshot.buckets[0].secondary = RateWindow{39, 10080, 1'800'300'000.0};
        snapshot.buckets.push_back(RateBucket{"codex_\"bengal\\fox\"\u00e9", "GPT \"x\" \\ \u00e9",
                                              RateWindow{5, 43200, 1'801'000'000.0}});
        snapshot.ordinaryUsageAllowed = true;
        return snapshot;
    }
    UsageSnapshot work() const {
        UsageSnapshot snapshot = reading(100, "work");
        snapshot.buckets[0].secondary = RateWindow{71, 10080, 1'800'200'000.0};
        snapshot.buckets[0].credits = CreditsSnapshot{true, false, "12.50"};
        // A model's five-hour window beside Codex's, which has a forecast: never the model's.
        snapshot.buckets.push_back(RateBucket{"codex_bengalfox", "GPT-5.3-Codex-Spark",
                                              RateWindow{20, 300, 1'800'010'000.0}});
        snapshot.accountKey = UsageSnapshot::fingerprint(":work");
        return snapshot;
    }
    std::string exposition() const { return metricsExposition(monitor->reading(), "Default"); }

    // Every webhook waiting answered with `result`.
    void answerWebhooks(const WebhookResult& result) {
        while (webhooks.calls.waiting() > 0) {
            answerWebhook(result);
        }
    }
};

TEST_F(MetricsTest, TwoAccountsReadAsTheGoldenExpositionHereAndThroughTheSocket) {
    WarningPreferences{.webhook = true}.save(preferences);
    startWithWork();
    answerFetch(personal(62, fiveHourReset));
    answerFetch(work());
    answerWebhooks(WebhookResult());  // Work's warning
    loop.advance(seconds(30));
    answerFetch(personal(0, fiveHourReset));  // the five-hour window resets
    answerFetch(LocalizedMessage("error.timeout"));
    answerWebhooks(refused);  // the reset's

    const std::string printed = exposition();
    const std::string golden = QUOTALUME_TEST_DATA_DIR "/metrics/two-accounts.prom";
    if (std::getenv("QUOTALUME_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(golden) << printed;
    }
    std::ifstream stored(golden);
    EXPECT_EQ(printed, std::string(std::istreambuf_iterator<char>(stored), {}));
    // What `quotalume-cli metrics` prints of a running engine: the same, counters and all.
    const EngineReading relayed =
        EngineReading::fromMessage(parseBoundedJSON(monitor->reading().message(clock.now_).dump()));
    EXPECT_EQ(metricsExposition(relayed, "Default"), printed);
}

TEST_F(MetricsTest, LabelValuesAreEscapedAsTheFormatSays) {
    const struct {
        const char* name;
        std::string value;
        std::string escaped;
    } rows[] = {
        {"plain", "Work", "Work"},
        {"double quote", "Work \"laptop\"", "Work \\\"laptop\\\""},
        {"backslash", "C:\\seat", "C:\\\\seat"},
        {"line feed", "a\nb", "a\\nb"},
        {"beyond ASCII, as it is", "B\u00fcro \u7b2c\u4e00", "B\u00fcro \u7b2c\u4e00"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(escapedLabelValue(row.value), row.escaped) << row.name;
        EngineReading one{.snapshot = reading(40)};
        EXPECT_THAT(metricsExposition(one, row.value),
                    ::testing::HasSubstr("quotalume_stale{account=\"" + row.escaped + "\"} 0\n"))
            << row.name;
    }
}

// Counted, never worked out from the history: a restart goes on from the saved counts, and a
// history trimmed to its cap takes nothing from them.
TEST_F(MonitorTest, CountersKeepTheirValuesOverARestartAndATrimmedHistory) {
    MonitorState stored;
    for (int i = 0; i < 100; ++i) {
        ResetEvent event = ResetEvent::test(clock.now_ - seconds(3600 * (i + 1)));
        event.id = "R" + std::to_string(i);
        event.bucketId = "codex";
        stored.records.push_back({{.localStatus = LocalizedMessage("notification.disabled"),
                                   .webhookStatus = LocalizedMessage("webhook.disabled")},
                                  event});
    }
    stored.counters.resets[{"codex", "5h"}] = 100;
    stored.counters.readings.good = 7;
    StateStore(data()).save(stored);

    const auto series = [&](const std::string& name) {
        const std::string text = metricsExposition(monitor->reading(), "Default");
        const auto at = text.find(name + " ");
        return at == std::string::npos
                   ? std::string("absent")
                   : text.substr(at + name.size() + 1, text.find('\n', at) - at - name.size() - 1);
    };
    startWithOneReset();
    answerLater(LocalizedMessage("error.timeout"));
    EXPECT_EQ(monitor->records().size(), 100u) << "the oldest went";
    EXPECT_EQ(series(R"(quotalume_resets_total{account="Default",bucket="codex",window="5h"})"),
              "101");
    EXPECT_EQ(series(R"(quotalume_readings_total{account="Default",outcome="ok"})"), "9");
    EXPECT_EQ(series(R"(quotalume_readings_total{account="Default",outcome="failed"})"), "1");
    EXPECT_EQ(
        series(
            R"(quotalume_deliveries_total{account="Default",channel="notification",outcome="delivered"})"),
        "1");

    monitor->stop();  // a failed reading alone is written when the engine stops
    make().start();
    loop.drain();
    EXPECT_EQ(series(R"(quotalume_readings_total{account="Default",outcome="failed"})"), "1");
    answerFetch(reading(0));
    EXPECT_EQ(series(R"(quotalume_readings_total{account="Default",outcome="ok"})"), "10");
    EXPECT_EQ(series(R"(quotalume_resets_total{account="Default",bucket="codex",window="5h"})"),
              "101");
}

// Scrapes read what the engine last read and never start a Codex; the file is replaced whole
// and readable by node_exporter's user; neither a folder that cannot be written nor an address
// taken holds up a reading or an announcement: each is a warning, gone once mended.
TEST_F(MonitorTest, TheEngineOffersItsReadingAndSaysWhatItCannot) {
    const std::uint16_t port = MetricsEndpoint(MetricsAddress{"127.0.0.1", 0}).port();  // free
    const fs::path folder = dir.path() / "node-exporter";
    const fs::path file = folder / "quotalume.prom";
    started();
    monitor->preferences().set("metrics.listen", std::to_string(port));
    monitor->preferences().set("metrics.textfile", file.string());
    answerFetch(reading(50));
    loop.drain();
    const std::string served = test::scrape(port).body;
    EXPECT_EQ(served, metricsExposition(monitor->reading(), "Default"));
    const std::size_t asked = codex.calls.requests().size();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(test::scrape(port).body, served);
    }
    loop.drain();
    EXPECT_EQ(codex.calls.requests().size(), asked) << "a scrape starts no Codex";
    const LocalizedMessage unwritten("metrics.textfile_failed", {file.string()});
    EXPECT_THAT(monitor->reading().warnings, ::testing::Contains(unwritten)) << "no folder";

    fs::create_directories(folder);
    answerLater(reading(0));  // a reset, announced all the same
    loop.drain();
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_THAT(monitor->reading().warnings, ::testing::Not(::testing::Contains(unwritten)));
    std::ifstream written(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}),
              metricsExposition(monitor->reading(), "Default"));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "no temporary left behind";
    EXPECT_EQ(test::scrape(port).body, metricsExposition(monitor->reading(), "Default"));

    // A view of the engine offers nothing; once it is an engine of its own it cannot have the
    // address another serves. The first stops serving when it stops: the address is free again.
    test::ManualLoop otherLoop{clock};
    test::FakeEngine otherLock;
    otherLock.refusal = LocalizedMessage("engine.held");
    Engine other(EnginePorts{otherLoop, clock, codex, webhooks, center, loginItems, signals,
                             preferences, otherLock, dir.path() / "other", fileOperations},
                 false);
    other.start();
    answerFetch(reading(0));
    otherLoop.drain();
    const LocalizedMessage taken("metrics.listen_failed", {"127.0.0.1:" + std::to_string(port)});
    EXPECT_THAT(other.warnings(), ::testing::Not(::testing::Contains(taken)));
    otherLock.refusal.reset();
    other.refresh();
    otherLoop.drain();
    EXPECT_THAT(other.warnings(), ::testing::Contains(taken));
    EXPECT_EQ(test::scrape(port).body, metricsExposition(monitor->reading(), "Default"));
    other.stop();
    monitor->stop();
    EXPECT_THROW(test::scrape(port), std::runtime_error) << "nobody listens";
}

}  // namespace
}  // namespace quotalume
