#include "usage_monitor.hpp"

#include "monitor_fakes.hpp"
#include "test_support.hpp"

#include <quotalume/l10n.hpp>
#include <quotalume/refresh_schedule.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace quotalume {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Counts writes, so tests can tell that nothing was stored, and fails them when told.
class CountingPreferences final : public MemoryPreferencesStore {
public:
    int writes = 0;
    int failure = 0;

protected:
    void setValue(const std::string& key, std::optional<Value> value) override {
        ++writes;
        if (failure != 0) {
            throw std::system_error(failure, std::system_category(), "preferences");
        }
        MemoryPreferencesStore::setValue(key, std::move(value));
    }
};

const WebhookConfiguration receiver{"http://127.0.0.1:9/hook", WebhookFormat::json, "", ""};
const WebhookFailure unavailable{LocalizedMessage("error.webhook_http", {"503"}), true};
const WebhookFailure refused{LocalizedMessage("error.webhook_http", {"400"}), false};

class MonitorTest : public ::testing::Test {
protected:
    MonitorTest() {
        L10n::setPreference(AppLanguage::english);
        codexHome = dir.path() / "codex";
        fs::create_directories(codexHome);
    }

    fs::path data() const { return dir.path() / "data" / "Quotalume"; }

    UsageMonitor& make(bool demo = false) {
        monitor.reset();
        monitor = std::make_unique<UsageMonitor>(
            MonitorPorts{loop, clock, codex, webhooks, center, loginItems, signals, preferences,
                         data(), fileOperations},
            demo);
        return *monitor;
    }

    // A reading of the five-hour window, `used` percent, resetting at a fixed time.
    UsageSnapshot reading(double used, const std::string& account = "account") const {
        RateBucket bucket{"codex", std::nullopt, RateWindow{used, 300, 1'800'003'600.0}};
        return UsageSnapshot{clock.now_, UsageSnapshot::fingerprint(account), {bucket}};
    }

    // Answers the waiting fetch and lets everything it started run.
    void answerFetch(FetchResult result) {
        codex.calls.answer(std::move(result));
        loop.drain();
    }

    // Started, with one reading of 50 % used and then one of 0 %: one reset recorded.
    void startWithOneReset(bool webhook = false) {
        make().start();
        if (webhook) {
            enableWebhook();
        }
        loop.drain();
        answerFetch(reading(50));
        loop.advance(seconds(30));
        answerFetch(reading(0));
    }

    // A state file from an earlier run holding one record that still owes both announcements.
    MonitorState storeOwedRecord(const char* webhookStatus, std::int64_t attempts) const {
        ResetEvent event = ResetEvent::test(clock.now_);
        event.bucketId = "codex";
        MonitorState stored;
        stored.records.push_back({.event = event,
                                  .localStatus = LocalizedMessage("notification.waiting"),
                                  .webhookStatus = LocalizedMessage(webhookStatus),
                                  .webhookFingerprint = receiver.fingerprint(),
                                  .webhookAttempts = attempts,
                                  .webhookPending = true,
                                  .localPending = true});
        StateStore(data()).save(stored);
        return stored;
    }

    void enableWebhook() { ASSERT_TRUE(monitor->saveWebhook(receiver, true)); }

    const EventRecord& onlyRecord() const {
        EXPECT_EQ(monitor->records().size(), 1u);
        return monitor->records().front();
    }

    ScopedStandardPreferences language{std::make_shared<MemoryPreferencesStore>()};
    test::TempDir dir;
    fs::path codexHome;
    test::FakeClock clock;
    test::ManualLoop loop{clock};
    test::FakeCodex codex{loop};
    test::FakeWebhooks webhooks{loop};
    test::FakeNotificationCenter center{loop};
    test::FakeLoginItems loginItems;
    test::FakeSignals signals;
    CountingPreferences preferences;
    FileOperations fileOperations = FileOperations::system();
    std::unique_ptr<UsageMonitor> monitor;
};

TEST_F(MonitorTest, RefreshesNeverOverlapAndReArmFromTheSchedule) {
    UsageMonitor& m = make();
    m.start();
    loop.drain();
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
    const double delay = RefreshSchedule::delay(m.snapshot(), clock.now_, 30, 0);
    EXPECT_EQ(m.nextRefreshAt(), clock.now_ + std::chrono::duration_cast<Duration>(
                                                  std::chrono::duration<double>(delay)));
    EXPECT_EQ(test::modeOf(data()), 0700u);
    EXPECT_EQ(test::modeOf(data() / "state.json"), 0600u);

    loop.advance(seconds(static_cast<long>(delay)) - seconds(1));
    EXPECT_EQ(codex.calls.waiting(), 0u);
    loop.advance(seconds(1));
    EXPECT_EQ(codex.calls.waiting(), 1u) << "the armed timer fetches again";
}

TEST_F(MonitorTest, FailuresKeepTheReadingAndBackOff) {
    startWithOneReset();
    UsageMonitor& m = *monitor;
    const auto snapshot = m.snapshot();
    const auto records = m.records();
    loop.advance(seconds(30));
    answerFetch(LocalizedMessage("error.timeout"));
    EXPECT_EQ(m.lastError(), LocalizedMessage("error.timeout"));
    EXPECT_EQ(m.failures(), 1);
    EXPECT_EQ(m.snapshot(), snapshot);
    EXPECT_EQ(m.records(), records);
    EXPECT_TRUE(m.isStale());
    EXPECT_EQ(m.statusText(), L10n::text("status.error"));
    EXPECT_EQ(*m.nextRefreshAt() - clock.now_, seconds(30));
    loop.advance(seconds(30));
    answerFetch(LocalizedMessage("error.timeout"));
    EXPECT_EQ(*m.nextRefreshAt() - clock.now_, seconds(60)) << "doubled for the second failure";

    loop.advance(seconds(60));
    answerFetch(reading(0));
    EXPECT_EQ(m.failures(), 0);
    EXPECT_FALSE(m.lastError());
}

TEST_F(MonitorTest, ResetsAreRecordedNewestFirstAndAnAccountChangeEmptiesTheHistory) {
    startWithOneReset();
    UsageMonitor& m = *monitor;
    ASSERT_EQ(m.records().size(), 1u);
    const EventRecord& record = m.records().front();
    EXPECT_EQ(record.event.reason, ResetReason::restoredToFull);
    EXPECT_EQ(record.localStatus, LocalizedMessage("notification.submitted"));
    EXPECT_EQ(record.webhookStatus, LocalizedMessage("webhook.disabled"));
    ASSERT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(center.posted[0].identifier, record.event.id);

    loop.advance(seconds(30));
    answerFetch(reading(40));
    loop.advance(seconds(30));
    answerFetch(reading(0));
    ASSERT_EQ(m.records().size(), 2u);
    EXPECT_GT(m.records()[0].event.observedAt, m.records()[1].event.observedAt);
    EXPECT_EQ(StateStore(data()).load().state.records, m.records()) << "persisted";

    loop.advance(seconds(30));
    answerFetch(reading(30, "someone else"));
    EXPECT_TRUE(m.records().empty());
}

TEST_F(MonitorTest, AChangedSourceDropsTheLateResultAndStartsAgain) {
    startWithOneReset();
    UsageMonitor& m = *monitor;
    loop.advance(seconds(30));
    ASSERT_EQ(codex.calls.waiting(), 1u);
    const long long failures = m.failures();

    Settings next = m.settings();
    next.codexHome = codexHome.string();
    m.updateSettings(next);
    EXPECT_FALSE(m.snapshot());
    EXPECT_TRUE(m.records().empty());
    EXPECT_EQ(Settings::load(preferences), next);

    answerFetch(LocalizedMessage("error.timeout"));  // the old source's answer
    EXPECT_FALSE(m.lastError());
    EXPECT_EQ(m.failures(), failures);
    ASSERT_EQ(codex.calls.waiting(), 1u) << "a fetch for the new source";
    EXPECT_EQ(codex.calls.requests().back().homePath, codexHome.string());
    answerFetch(reading(10));
    EXPECT_TRUE(m.snapshot());

    // Only the interval: the timer is re-armed, nothing is fetched.
    next.refreshInterval = 120;
    m.updateSettings(next);
    loop.drain();
    EXPECT_EQ(codex.calls.waiting(), 0u);
    EXPECT_EQ(*m.nextRefreshAt() - clock.now_,
              std::chrono::duration_cast<Duration>(std::chrono::duration<double>(
                  RefreshSchedule::delay(m.snapshot(), clock.now_, 120, 0))));
}

TEST_F(MonitorTest, SaveAndConnectValidatesTrimsAndReports) {
    UsageMonitor& m = make();
    m.start();
    loop.drain();
    answerFetch(reading(10));

    // Only spaces is the automatic choice, which finds nothing on Linux.
    m.saveAndConnect("   ", codexHome.string());
    EXPECT_EQ(m.sourceConnection().message(), LocalizedMessage("error.executable"));
    EXPECT_EQ(m.settings().codexPath, "");

    const std::string executable = test::FakeCodexHome::executable();
    m.saveAndConnect(" " + executable + "\n", " " + codexHome.string() + " ");
    EXPECT_EQ(m.settings().codexPath, executable);
    EXPECT_EQ(m.settings().codexHome, codexHome.string());
    EXPECT_EQ(m.sourceConnection().message(), LocalizedMessage("source.saved"));
    loop.drain();
    ASSERT_EQ(codex.calls.waiting(), 1u) << "exactly one fetch answers the feedback";
    answerFetch(reading(10));
    EXPECT_EQ(m.sourceConnection().message(), LocalizedMessage("status.connected"));

    m.saveAndConnect(executable, codexHome.string());
    loop.drain();
    answerFetch(LocalizedMessage("error.login"));
    EXPECT_EQ(m.sourceConnection().message(), LocalizedMessage("error.login"));
}

TEST_F(MonitorTest, DeliversOnceAndRetriesWithGrowingPauses) {
    startWithOneReset(/*webhook=*/true);
    UsageMonitor& m = *monitor;
    ASSERT_EQ(webhooks.calls.waiting(), 1u);
    EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.delivering"));
    EXPECT_EQ(StateStore(data()).load().state.records[0].webhookAttempts, 1)
        << "the attempt is on disk before the send";

    for (int attempt = 1; attempt <= 2; ++attempt) {
        webhooks.calls.answer(unavailable);
        loop.drain();
        EXPECT_EQ(onlyRecord().webhookStatus,
                  LocalizedMessage("webhook.retrying", {std::to_string(attempt)}));
        EXPECT_EQ(onlyRecord().nextAttemptAt, clock.now_ + seconds(60 * attempt));
        loop.advance(seconds(60 * attempt) - seconds(1));
        EXPECT_EQ(webhooks.calls.waiting(), 0u) << "not due yet";
        loop.advance(seconds(10));
        ASSERT_EQ(webhooks.calls.waiting(), 1u);
    }
    webhooks.calls.answer(unavailable);
    loop.drain();
    EXPECT_EQ(onlyRecord().webhookStatus, unavailable.message);
    EXPECT_FALSE(onlyRecord().webhookPending);
    EXPECT_EQ(onlyRecord().webhookAttempts, 3);
    loop.advance(seconds(600));
    EXPECT_EQ(webhooks.calls.requests().size(), 3u);
    EXPECT_FALSE(m.isDelivering());
}

TEST_F(MonitorTest, DeliveryOutcomes) {
    WebhookConfiguration other = receiver;
    other.url = "http://127.0.0.1:9/other";
    struct Case {
        const char* name;
        WebhookResult first;                           // the answer to the first attempt
        std::function<void(UsageMonitor&)> meanwhile;  // while a retry waits
        LocalizedMessage webhookStatus;
        std::int64_t attempts;
    };
    const Case cases[] = {
        {"delivered", WebhookResult(), nullptr, LocalizedMessage("webhook.delivered"), 1},
        {"refused for good", refused, nullptr, refused.message, 1},
        {"switched off", unavailable,
         [](UsageMonitor& m) { ASSERT_TRUE(m.saveWebhook(receiver, false)); },
         LocalizedMessage("webhook.cancelled"), 1},
        {"another receiver", unavailable,
         [&](UsageMonitor& m) { ASSERT_TRUE(m.saveWebhook(other, true)); },
         LocalizedMessage("webhook.cancelled"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        monitor.reset();
        codex.calls.clear();
        webhooks.calls.clear();
        fs::remove_all(data());
        startWithOneReset(/*webhook=*/true);
        ASSERT_EQ(webhooks.calls.waiting(), 1u);
        webhooks.calls.answer(c.first);
        loop.drain();
        if (c.meanwhile) {
            c.meanwhile(*monitor);
            loop.advance(seconds(70));
        }
        EXPECT_EQ(webhooks.calls.waiting(), 0u) << "nothing more is sent";
        EXPECT_EQ(onlyRecord().webhookStatus, c.webhookStatus);
        EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.submitted"));
        EXPECT_EQ(onlyRecord().webhookAttempts, c.attempts);
        EXPECT_FALSE(onlyRecord().webhookPending);
    }
}

TEST_F(MonitorTest, WhatIsOwedFollowsTheSettingsOfTheMomentItIsDelivered) {
    // Owed from an earlier run: a notification, and a webhook already at its limit.
    storeOwedRecord("webhook.delivering", 3);
    Settings settings;
    settings.notificationsEnabled = false;
    settings.webhookEnabled = true;
    settings.save(preferences);
    make().start();
    loop.advance(seconds(10));
    EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.disabled"));
    EXPECT_EQ(onlyRecord().webhookStatus, LocalizedMessage("webhook.limit_reached"));
    EXPECT_TRUE(center.posted.empty());
    EXPECT_EQ(webhooks.calls.requests().size(), 0u);
}

TEST_F(MonitorTest, NothingLeavesTheMachineWhoseStatusCannotBeSaved) {
    auto broken = std::make_shared<bool>(false);
    for (const auto& fault : test::writeFaults(broken)) {
        SCOPED_TRACE(fault.name);
        *broken = false;
        fileOperations = fault.operations;
        make().start();
        enableWebhook();
        loop.drain();
        answerFetch(reading(50));
        const std::string before = dir.read("data/Quotalume/state.json");
        *broken = true;
        loop.advance(seconds(30));
        answerFetch(reading(0));
        loop.advance(seconds(30));
        EXPECT_EQ(monitor->persistenceWarning(), LocalizedMessage("error.state_write"));
        EXPECT_TRUE(center.posted.empty());
        EXPECT_TRUE(webhooks.calls.requests().empty());
        EXPECT_TRUE(onlyRecord().localPending) << "still owed, for when the disk takes it";
        EXPECT_EQ(dir.read("data/Quotalume/state.json"), before);
        EXPECT_EQ(test::entriesOf(data()),
                  (std::vector<std::string>{"state.json", "webhook.json"}));

        *broken = false;  // the disk takes it again: the next delivery pass announces it
        loop.advance(seconds(10));
        EXPECT_FALSE(monitor->persistenceWarning());
        EXPECT_EQ(center.posted.size(), 1u);
        EXPECT_EQ(webhooks.calls.waiting(), 1u);

        monitor.reset();
        codex.calls.clear();
        webhooks.calls.clear();
        center.posted.clear();
        fs::remove_all(data());
    }
}

TEST_F(MonitorTest, ChoicesThatCannotBeStoredApplyAndAreWarnedAbout) {
    preferences.failure = ENOSPC;
    UsageMonitor& m = make();
    m.setMenuBarStyle(MenuBarStyle::rings);
    EXPECT_EQ(m.menuBarStyle(), MenuBarStyle::rings);
    EXPECT_EQ(m.persistenceWarning(), LocalizedMessage("error.system", {std::to_string(ENOSPC)}));
    preferences.failure = 0;
    Settings settings = m.settings();
    settings.refreshInterval = 60;
    m.updateSettings(settings);
    EXPECT_FALSE(m.persistenceWarning());
    EXPECT_EQ(loadMenuBarStyle(preferences), MenuBarStyle::rings) << "the earlier choice too";
}

TEST_F(MonitorTest, ACrashDuringASendNeverRepeatsANotificationNorPassesThreeAttempts) {
    startWithOneReset(/*webhook=*/true);
    ASSERT_EQ(webhooks.calls.waiting(), 1u);
    ASSERT_EQ(center.posted.size(), 1u);

    for (int restart = 2; restart <= 4; ++restart) {
        monitor.reset();  // the process ends while the webhook and a fetch are in flight
        while (codex.calls.waiting() > 0) {
            codex.calls.answer(reading(0));  // answers nobody is left to hear
        }
        webhooks.calls.answer(WebhookResult());
        loop.drain();
        make().start();
        loop.advance(seconds(10));  // the first delivery pass
        EXPECT_EQ(center.posted.size(), 1u) << "the notification is not shown again";
        const EventRecord& record = onlyRecord();
        if (restart <= 3) {
            ASSERT_EQ(webhooks.calls.waiting(), 1u) << "resent as a counted attempt";
            EXPECT_EQ(record.webhookAttempts, restart);
        } else {
            EXPECT_EQ(webhooks.calls.waiting(), 0u) << "never a fourth attempt";
            EXPECT_EQ(record.webhookStatus, LocalizedMessage("webhook.limit_reached"));
        }
    }
}

TEST_F(MonitorTest, AnInFlightStatusThatCannotBeSavedLeavesTheRecordOwed) {
    const MonitorState stored = storeOwedRecord("webhook.waiting", 0);
    make();
    // The disk fails after start-up: nothing may leave, and nothing may be lost.
    fs::remove_all(data());
    { std::ofstream(data()) << "not a folder"; }
    monitor->start();
    loop.advance(seconds(20));
    EXPECT_TRUE(center.posted.empty());
    EXPECT_EQ(onlyRecord(), stored.records[0]) << "still owed, attempts uncounted";

    fs::remove(data());
    loop.advance(seconds(10));
    EXPECT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(onlyRecord().localStatus, LocalizedMessage("notification.submitted"));
}

TEST_F(MonitorTest, PermissionIsAskedForOnceAtStartAndOnlyWithNotificationsOn) {
    for (bool enabled : {true, false}) {
        monitor.reset();
        center.status = NotificationAuthorization::notDetermined;
        center.authorizationRequests = 0;
        Settings settings;
        settings.notificationsEnabled = enabled;
        settings.save(preferences);
        make().start();
        loop.drain();
        EXPECT_EQ(center.authorizationRequests, enabled ? 1 : 0);
        EXPECT_EQ(monitor->notifier().authorization(),
                  enabled ? NotificationAuthorization::authorized
                          : NotificationAuthorization::notDetermined);
    }
}

TEST_F(MonitorTest, StateFileProblemsAreWarnedAboutAndMendedByTheNextSave) {
    fs::create_directories(data());
    { std::ofstream(data() / "state.json") << R"({"detector": {)"; }
    UsageMonitor& m = make();
    EXPECT_EQ(m.persistenceWarning(), LocalizedMessage("error.state_read"));
    EXPECT_TRUE(m.records().empty());
    m.start();
    loop.drain();
    answerFetch(reading(10));
    EXPECT_FALSE(m.persistenceWarning());
    EXPECT_FALSE(StateStore(data()).load().warning);
}

TEST_F(MonitorTest, DemoModeTouchesNothing) {
    UsageMonitor& m = make(/*demo=*/true);
    m.start();
    m.refresh();
    m.deliverPending();
    Settings next = m.settings();
    next.codexHome = codexHome.string();
    m.updateSettings(next);
    m.setMenuBarStyle(MenuBarStyle::rings);
    m.saveAndConnect("", "");
    m.testWebhook(receiver);
    m.testNotification();
    EXPECT_TRUE(m.saveWebhook(receiver, true));
    m.setLaunchAtLogin(true);
    loop.advance(seconds(600));

    EXPECT_EQ(codex.calls.requests().size(), 0u);
    EXPECT_EQ(webhooks.calls.requests().size(), 0u);
    EXPECT_TRUE(center.posted.empty());
    EXPECT_FALSE(m.nextRefreshAt());
    EXPECT_EQ(loop.activeTimers(), 1u) << "only the one-second clock";
    EXPECT_FALSE(fs::exists(dir.path() / "data"));
    EXPECT_EQ(preferences.writes, 0);
    EXPECT_EQ(loginItems.current, LoginItemStatus::disabled);
    EXPECT_EQ(m.settings(), next) << "changes are kept in memory";
    EXPECT_EQ(m.sourceConnection().message(), LocalizedMessage("status.demo"));
    EXPECT_EQ(m.webhookFeedback(), LocalizedMessage("webhook.demo"));
    EXPECT_EQ(m.statusText(), L10n::text("status.demo"));
    EXPECT_EQ(m.visibleWindows().size(), 2u);
    EXPECT_EQ(m.loadWebhook(), WebhookConfiguration{});
}

TEST_F(MonitorTest, StaleAfterTwiceTheIntervalOrNinetySeconds) {
    const std::pair<double, long> cases[] = {{30, 90}, {120, 240}};
    for (const auto& [interval, limit] : cases) {
        monitor.reset();
        codex.calls.clear();
        Settings settings;
        settings.refreshInterval = interval;
        settings.save(preferences);
        UsageMonitor& m = make();
        m.start();
        loop.drain();
        answerFetch(reading(10));
        loop.advance(seconds(limit));
        EXPECT_FALSE(m.isStale()) << interval;
        loop.advance(seconds(1));
        EXPECT_TRUE(m.isStale()) << interval;
    }
}

TEST_F(MonitorTest, TestsSettingsAndTheLoginItem) {
    UsageMonitor& m = make();
    m.start();
    loop.drain();
    m.testWebhook(receiver);
    m.testWebhook(receiver);
    loop.drain();
    ASSERT_EQ(webhooks.calls.requests().size(), 1u) << "a second press while testing is dropped";
    EXPECT_TRUE(webhooks.calls.requests()[0].isTest);
    webhooks.calls.answer(WebhookResult());
    loop.drain();
    EXPECT_EQ(m.webhookFeedback(), LocalizedMessage("webhook.test_success"));
    EXPECT_TRUE(m.records().empty());

    center.status = NotificationAuthorization::denied;
    m.testNotification();
    loop.drain();
    EXPECT_EQ(m.notificationFeedback(), LocalizedMessage("notification.unauthorized"));

    EXPECT_TRUE(m.saveWebhook({"", WebhookFormat::json, "", ""}, false));
    EXPECT_EQ(m.webhookFeedback(), LocalizedMessage("webhook.saved_off"));
    EXPECT_FALSE(m.saveWebhook({"ftp://example.com", WebhookFormat::json, "", ""}, true));
    EXPECT_EQ(m.webhookFeedback(), LocalizedMessage("error.https"));

    const int writes = preferences.writes;
    m.setMenuBarStyle(m.menuBarStyle());
    EXPECT_EQ(preferences.writes, writes) << "an unchanged style writes nothing";
    m.setMenuBarStyle(MenuBarStyle::bars);
    EXPECT_EQ(loadMenuBarStyle(preferences), MenuBarStyle::bars);

    loginItems.whenRegistered = LoginItemStatus::approvalRequired;
    m.setLaunchAtLogin(true);
    EXPECT_EQ(m.loginItemFeedback(), LocalizedMessage("login.approval"));
    loginItems.refuse = true;
    m.setLaunchAtLogin(false);
    EXPECT_EQ(m.loginItemFeedback(), LocalizedMessage("login.failed"));
}

// ---- The notifier against a fake center

TEST(LocalNotifierTest, PermissionContentAndIdentity) {
    ScopedStandardPreferences language{std::make_shared<MemoryPreferencesStore>()};
    L10n::setPreference(AppLanguage::english);
    test::FakeClock clock;
    test::ManualLoop loop{clock};
    test::FakeNotificationCenter center{loop};
    int changes = 0;
    LocalNotifier notifier(center, [&] { ++changes; });
    std::vector<std::optional<LocalizedMessage>> outcomes;
    auto record = [&](std::optional<LocalizedMessage> outcome) { outcomes.push_back(outcome); };
    ResetEvent event = ResetEvent::test(clock.now_);
    event.bucketId = "codex";

    center.status = NotificationAuthorization::denied;
    notifier.send(event, true, false, record);
    loop.drain();
    EXPECT_EQ(outcomes.back(), LocalizedMessage("notification.unauthorized"));
    EXPECT_TRUE(center.posted.empty());
    EXPECT_EQ(notifier.statusText(), L10n::text("notification.denied"));

    center.status = NotificationAuthorization::provisional;
    notifier.send(event, false, false, record);
    notifier.send(event, true, true, record);
    loop.drain();
    EXPECT_EQ(outcomes.back(), LocalizedMessage("notification.submitted"));
    ASSERT_EQ(center.posted.size(), 2u);
    EXPECT_EQ(center.posted[0], LocalNotifier::request(event, false, false));
    EXPECT_EQ(center.posted[0].title, event.notificationTitle());
    EXPECT_EQ(center.posted[0].subtitle, title(event.window));
    EXPECT_FALSE(center.posted[0].sound);
    EXPECT_EQ(center.posted[1].title, L10n::text("notification.test_title"));
    EXPECT_EQ(center.posted[1].subtitle, "");
    EXPECT_EQ(center.posted[1].body, L10n::text("notification.test_body"));
    EXPECT_EQ(center.posted[0].identifier, center.posted[1].identifier)
        << "the same event replaces its notification";
    EXPECT_EQ(center.posted[0].threadIdentifier, "quotalume.quota-resets");
    EXPECT_EQ(changes, 2);

    center.postFailure = LocalizedMessage("error.system", {"5"});
    notifier.send(event, true, false, record);
    loop.drain();
    EXPECT_EQ(outcomes.back(), std::nullopt);

    center.status = NotificationAuthorization::ephemeral;
    notifier.refreshPermission();
    loop.drain();
    EXPECT_EQ(notifier.statusText(), L10n::text("notification.undetermined"));
}

}  // namespace
}  // namespace quotalume
