#include "settings/settings_window.hpp"
#include "monitor_harness.hpp"
#include "settings/history_list.hpp"
#include "settings/menu_bar_style_preview.hpp"
#include "settings/webhook_page.hpp"

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>

namespace quotalume {
namespace {

using test::find, test::text;

template <typename Values, typename Value>
int indexOf(const Values& values, Value value) {
    return static_cast<int>(std::find(values.begin(), values.end(), value) - values.begin());
}

// A shown window: a hidden one leaves the monitor's changes until it is shown again.
class SettingsWindowTest : public testing::Test {
protected:
    SettingsWindowTest() { window.show(); }
    void choose(const char* box, int index) {
        find<QComboBox>(window, box)->setCurrentIndex(index);
        harness.settle();
    }
    void chooseFormat(WebhookFormat format) {
        choose("webhook.format", indexOf(allWebhookFormats, format));
    }

    test::MonitorHarness harness;
    SettingsWindow window{*harness.bridge};
};

TEST_F(SettingsWindowTest, CredentialsShowAndAreKeptOnlyForTheFormatsThatUseThem) {
    const struct {
        WebhookFormat format;
        bool token, secret;  // shown, and kept when saved
    } rows[] = {
        {WebhookFormat::json, true, true},    {WebhookFormat::feishu, false, true},
        {WebhookFormat::slack, false, false}, {WebhookFormat::discord, false, false},
        {WebhookFormat::wecom, false, false},
    };
    window.showPage(SettingsWindow::Page::webhooks);
    auto* secret = find<QLineEdit>(window, "webhook.secret");
    EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.format));
        chooseFormat(row.format);
        EXPECT_EQ(find(window, "webhook.token")->isVisibleTo(&window), row.token);
        EXPECT_EQ(secret->isVisibleTo(&window), row.secret);
        // Saved: the address trimmed of pasted white space, only the credentials shown.
        EXPECT_EQ(WebhookPage::cleaned(
                      {" \t https://hooks.example.com/a b\u2028\r\n", row.format, "tok", "sec"}),
                  (WebhookConfiguration{"https://hooks.example.com/a b", row.format,
                                        row.token ? "tok" : "", row.secret ? "sec" : ""}));
    }

    // Through the window: slack keeps no credential typed while json was chosen.
    chooseFormat(WebhookFormat::json);
    find<QCheckBox>(window, "webhook.toggle")->setChecked(true);
    find<QLineEdit>(window, "webhook.url")->setText(QStringLiteral("  https://a.example/x \n"));
    find<QLineEdit>(window, "webhook.token")->setText(QStringLiteral("typed token"));
    secret->setText(QStringLiteral("typed secret"));
    chooseFormat(WebhookFormat::slack);
    find<QAbstractButton>(window, "webhook.save")->click();
    EXPECT_EQ(harness.monitor->loadWebhook(),
              (WebhookConfiguration{"https://a.example/x", WebhookFormat::slack, "", ""}));
    EXPECT_TRUE(harness.monitor->settings().webhookEnabled);
}

TEST_F(SettingsWindowTest, EarlyWarningsAreChosenAndStoredAtOnce) {
    window.showPage(SettingsWindow::Page::notifications);
    EXPECT_TRUE(find<QCheckBox>(window, "warning.level.25")->isChecked());
    EXPECT_FALSE(find<QCheckBox>(window, "warning.level.50")->isChecked());
    find<QCheckBox>(window, "warning.level.50")->setChecked(true);
    find<QCheckBox>(window, "warning.level.10")->setChecked(false);
    find<QCheckBox>(window, "warning.forecast_toggle")->setChecked(false);
    find<QCheckBox>(window, "warning.moved_toggle")->setChecked(false);
    EXPECT_EQ(WarningPreferences::load(harness.preferences),
              (WarningPreferences{.levels = {50, 25}, .forecast = false, .resetMoved = false}));

    // The other buckets: one box for each Codex reports, one for all of them.
    EXPECT_TRUE(find<QWidget>(window, "warning.buckets_none")->isVisibleTo(&window));
    UsageSnapshot reading = harness.reading(20, 39);
    reading.buckets.push_back(RateBucket{"codex_bengalfox", "Spark & Co", RateWindow{10, 300}});
    reading.buckets.push_back(RateBucket{"codex_other", "Other", RateWindow{10, 300}});
    harness.start(reading);
    window.showPage(SettingsWindow::Page::notifications);
    harness.settle();
    EXPECT_FALSE(find<QWidget>(window, "warning.buckets_none")->isVisibleTo(&window));
    auto* spark = find<QCheckBox>(window, "warning.bucket.codex_bengalfox");
    EXPECT_EQ(spark->text(), "Spark && Co") << "Codex's name marks no shortcut";
    spark->setChecked(true);
    EXPECT_EQ(WarningPreferences::load(harness.preferences).buckets,
              std::vector<std::string>{"codex_bengalfox"});
    find<QCheckBox>(window, "warning.buckets_all")->setChecked(true);
    EXPECT_TRUE(WarningPreferences::load(harness.preferences).allBuckets);
    harness.settle();
    EXPECT_FALSE(find<QCheckBox>(window, "warning.bucket.codex_other")->isEnabled());
    find<QCheckBox>(window, "warning.buckets_all")->setChecked(false);
    EXPECT_EQ(WarningPreferences::load(harness.preferences).buckets,
              std::vector<std::string>{"codex_bengalfox"})
        << "unticked, the ids chosen before";

    // The receiver's switch goes with the webhook's Save.
    window.showPage(SettingsWindow::Page::webhooks);
    find<QCheckBox>(window, "webhook.warnings_toggle")->setChecked(true);
    EXPECT_FALSE(harness.monitor->preferences().warnings().webhook);
    find<QAbstractButton>(window, "webhook.save")->click();
    EXPECT_TRUE(WarningPreferences::load(harness.preferences).webhook);
}

// A model's bucket's reset is in the history with Codex's, said to be recorded only.
TEST_F(SettingsWindowTest, TheHistoryListsWhatWasOnlyRecorded) {
    const auto withSpark = [&](double used) {
        UsageSnapshot reading = harness.reading(used, 39);
        reading.buckets.push_back(
            RateBucket{"codex_bengalfox", "GPT-5.3-Codex-Spark", RateWindow{used, 300}});
        return reading;
    };
    harness.start(withSpark(50));
    harness.clock.now_ += std::chrono::seconds(30);
    harness.refresh(withSpark(0));
    window.showPage(SettingsWindow::Page::notifications);
    harness.settle();
    std::vector<std::string> shown;
    for (const QWidget* row : window.findChildren<QWidget*>(QStringLiteral("history.row"))) {
        shown.push_back((test::labelText(*row, "history.title") + QStringLiteral(" | ") +
                         test::labelText(*row, "history.status"))
                            .toStdString());
    }
    std::sort(shown.begin(), shown.end());
    // Warnings are listed with the resets: the heading says both.
    EXPECT_EQ(find<QGroupBox>(window, "notification.history_section")->title(),
              "Resets and warnings");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].starts_with("Codex: 5-hour limit reset | ")) << shown[0];
    EXPECT_EQ(shown[1],
              "GPT-5.3-Codex-Spark: 5-hour limit reset | Recorded, not announced \u00b7 Recorded, "
              "not announced");
}

TEST(HistoryListTest, ShowsTheFirstTwentyOrTheEmptyText) {
    EventRecord record{.event = ResetEvent::test(Date{})};
    record.localStatus = LocalizedMessage("notification.submitted");
    record.webhookStatus = LocalizedMessage("webhook.disabled");
    HistoryList list;
    list.show(std::vector<EventRecord>(25, record));
    const auto rows = list.findChildren<QWidget*>(QStringLiteral("history.row"));
    ASSERT_EQ(rows.size(), 20);
    EXPECT_EQ(test::labelText(*rows.front(), "history.status"),
              text("notification.submitted") + QStringLiteral(" · ") + text("webhook.disabled"));
    EXPECT_EQ(list.findChild<QLabel*>(QStringLiteral("history.empty")), nullptr);

    list.show({});
    EXPECT_TRUE(list.findChildren<QWidget*>(QStringLiteral("history.row")).isEmpty());
    EXPECT_NE(find<QLabel>(list, "history.empty"), nullptr);
}

TEST_F(SettingsWindowTest, LanguageSwitchRetitlesEverythingAtOnce) {
    choose("settings.language", indexOf(allAppLanguages, AppLanguage::german));
    ASSERT_EQ(L10n::language(), AppLanguage::german);
    EXPECT_EQ(window.windowTitle(), text("app.settings_title"));
    EXPECT_EQ(find<QGroupBox>(window, "settings.menu_bar")->title(), text("settings.menu_bar"));
    EXPECT_EQ(find<QAbstractButton>(window, "source.save")->text(), text("source.save"));

    // A hidden window catches up as it is shown again.
    window.hide();
    harness.monitor->preferences().setLanguage(AppLanguage::french);
    harness.settle();
    window.show();
    EXPECT_EQ(window.windowTitle(), text("app.settings_title"));
}

TEST_F(SettingsWindowTest, GeneralChoicesGoThroughTheMonitor) {
    // The preview is the tray's own picture: the sample before any reading, the figures after.
    auto* preview = find<MenuBarStylePreview>(window, "settings.preview");
    choose("settings.style", indexOf(allMenuBarStyles, MenuBarStyle::rings));
    choose("settings.scope", indexOf(allMenuBarScopes, MenuBarScope::weekly));
    EXPECT_EQ(preview->accessibleName(), "7D 61%");
    harness.start(harness.reading(20, 70));
    EXPECT_EQ(preview->look(),
              (TrayIconImage{MenuBarStyle::rings, {{QuotaWindow::weekly, 30, "30%"}}}));
    EXPECT_EQ(preview->accessibleName(), "7D 30%");

    choose("settings.interval", 3);
    EXPECT_EQ(harness.monitor->settings().refreshInterval, 120);

    auto* login = find<QCheckBox>(window, "settings.start_login");
    login->click();
    harness.settle();
    EXPECT_EQ(harness.loginItems.current, LoginItemStatus::enabled);
    EXPECT_TRUE(login->isChecked());
    harness.loginItems.refuse = true;
    login->click();
    harness.settle();
    EXPECT_TRUE(login->isChecked()) << "the service refused; still registered";
    EXPECT_EQ(test::labelText(window, "settings.login_feedback"), text("login.failed"));
}

TEST_F(SettingsWindowTest, AFoundExecutableIsOfferedAndAdoptedOnlyBySave) {
    const test::TempDir folder;
    const std::string codex = test::MonitorHarness::codexIn(folder);
    const test::ScopedEnvironment path("PATH", folder.str());
    window.hide();
    window.show();  // looks again
    auto* use = find<QAbstractButton>(window, "source.use");
    ASSERT_EQ(use->toolTip(), QString::fromStdString(codex));
    EXPECT_TRUE(test::labelText(window, "source.found").contains(QString::fromStdString(codex)));

    use->click();
    EXPECT_EQ(find<QLineEdit>(window, "source.executable")->text(), QString::fromStdString(codex));
    EXPECT_EQ(harness.monitor->settings().codexPath, "") << "nothing adopted before Save";
    find<QLineEdit>(window, "source.home")->setText(QString::fromStdString(folder.str()));
    find<QAbstractButton>(window, "source.save")->click();
    EXPECT_EQ(harness.monitor->settings().codexPath, codex);
}

TEST_F(SettingsWindowTest, ASourceSavedElsewhereReplacesOnlyFieldsLeftAlone) {
    const test::TempDir folder;
    const std::string codex = test::MonitorHarness::codexIn(folder);
    auto* home = find<QLineEdit>(window, "source.home");
    home->setText(QStringLiteral("/typed/but/not/saved"));
    // The dashboard's offer saves a new executable while the window stays open.
    harness.monitor->saveAndConnect(codex, folder.str());
    harness.loop.drain();
    harness.settle();
    EXPECT_EQ(find<QLineEdit>(window, "source.executable")->text(), QString::fromStdString(codex));
    EXPECT_EQ(home->text(), QStringLiteral("/typed/but/not/saved"));
}

}  // namespace
}  // namespace quotalume
