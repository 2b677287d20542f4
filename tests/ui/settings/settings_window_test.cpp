#include "settings/settings_window.hpp"
#include "monitor_harness.hpp"
#include "settings/history_list.hpp"
#include "settings/menu_bar_style_preview.hpp"
#include "settings/webhook_page.hpp"
#include "widgets/segmented_control.hpp"

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>

#include <functional>

namespace quotalume {
namespace {

using test::find, test::text;
using Page = SettingsWindow::Page;

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
    // Focus follows the keyboard only in the active window.
    void activate() {
        window.activateWindow();
        EXPECT_TRUE(test::eventually([&] {
            harness.settle();
            return QApplication::activeWindow() == &window;
        }));
    }
    // A key as the keyboard sends it: to the focused control, then on to the window unless the
    // control takes it.
    void press(int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
        harness.settle();
    }
    QAbstractButton* tab(Page page) const {
        return find<SegmentedControl>(window, "settings.pages")
            ->group()
            ->button(static_cast<int>(page));
    }
    // What Tab reaches from the chosen page's tab until it comes back round.
    std::vector<QWidget*> tabOrder() {
        QWidget* start = tab(window.page());
        start->setFocus(Qt::TabFocusReason);
        std::vector<QWidget*> reached{start};
        for (press(Qt::Key_Tab); QApplication::focusWidget() != start && reached.size() < 40;
             press(Qt::Key_Tab)) {
            reached.push_back(QApplication::focusWidget());
        }
        return reached;
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

// Tab stops once at the page tabs, then at every control of the page in reading order, each
// named to a screen reader as it is labelled on screen (its text, or the label it is the buddy
// of, unless it has a more telling name of its own): in two languages, with two more sources.
TEST_F(SettingsWindowTest, TabReachesEveryControlInReadingOrderNamedByItsLabel) {
    const test::TempDir home;
    AccountSources sources;
    sources.others = {{"Work", home.str(), ""}, {"Home", home.str(), ""}};
    harness.monitor->preferences().set("sources", sources.othersText());
    activate();
    const std::pair<Page, std::vector<std::string>> pages[] = {
        {Page::general,
         {"settings.page.general", "settings.language", "settings.scope", "settings.style",
          "settings.interval", "settings.start_login"}},
        {Page::notifications,
         {"settings.page.notifications", "notification.toggle", "notification.sound",
          "warning.level.50", "warning.level.25", "warning.level.10", "warning.level.5",
          "warning.forecast_toggle", "warning.moved_toggle", "warning.unapplied_toggle",
          "warning.buckets_all", "notification.allow", "notification.test"}},
        {Page::webhooks,
         {"settings.page.webhooks", "webhook.toggle", "webhook.warnings_toggle", "webhook.format",
          "webhook.url", "webhook.token", "webhook.secret", "webhook.test", "webhook.save"}},
        // Disabled buttons (an unchanged label's Rename, the first row's Move Up) are skipped.
        {Page::source,
         {"settings.page.source", "source.executable", "source.choose", "source.home",
          "source.save", "source.label", "source.tray", "source.label", "source.move_down",
          "source.remove", "source.label", "source.move_up", "source.remove", "source.new_label",
          "source.new_home", "source.new_executable", "source.add"}},
    };
    for (AppLanguage language : {AppLanguage::german, AppLanguage::english}) {
        harness.monitor->preferences().setLanguage(language);
        harness.settle();
        for (const auto& [page, expected] : pages) {
            SCOPED_TRACE(expected.front() + ", " + text("settings.general").toStdString());
            window.showPage(page);
            std::vector<std::string> reached;
            for (QWidget* control : tabOrder()) {
                reached.push_back(control->objectName().toStdString());
                QString label = control->accessibleName();
                if (const auto* button = qobject_cast<QAbstractButton*>(control)) {
                    label = label.isEmpty() ? button->text() : label;
                }
                for (const QLabel* beside : window.findChildren<QLabel*>()) {
                    label = label.isEmpty() && beside->buddy() == control ? beside->text() : label;
                }
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
                EXPECT_FALSE(label.isEmpty()) << reached.back();
                EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), label.toStdString());
                if (const auto* combo = qobject_cast<QComboBox*>(control)) {
                    EXPECT_EQ(accessible->text(QAccessible::Value), combo->currentText());
                    EXPECT_EQ(accessible->childCount(), 1) << "its list";
                }
            }
            EXPECT_EQ(reached, expected);
        }
    }
}

TEST_F(SettingsWindowTest, PageTabsAreTabsThatChangeThePage) {
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);
    EXPECT_EQ(frame->role(), QAccessible::Window);
    EXPECT_EQ(frame->text(QAccessible::Name), text("app.settings_title"));
    QAccessibleInterface* tabs =
        QAccessible::queryAccessibleInterface(find(window, "settings.pages"));
    ASSERT_EQ(tabs->role(), QAccessible::PageTabList);
    ASSERT_EQ(tabs->childCount(), 5);
    // A screen reader's press on a tab shows its page, and the tab alone reads as selected.
    for (int chosen : {3, 0, 4, 2, 1}) {
        QAccessibleInterface* pressed = tabs->child(chosen);
        ASSERT_EQ(pressed->role(), QAccessible::PageTab);
        ASSERT_TRUE(pressed->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
        pressed->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(window.page(), static_cast<Page>(chosen));
        for (int i = 0; i < tabs->childCount(); ++i) {
            EXPECT_EQ(tabs->child(i)->state().selected, i == chosen) << chosen << ", " << i;
            EXPECT_FALSE(tabs->child(i)->state().checkable) << "not a check box";
        }
    }

    // Left and Right choose the neighbouring tab, as in a tab bar, without wrapping round.
    activate();
    const struct {
        const char* name;
        Qt::LayoutDirection direction;
        Page from;
        int key;
        Page to;
    } keys[] = {
        {"right", Qt::LeftToRight, Page::general, Qt::Key_Right, Page::notifications},
        {"left", Qt::LeftToRight, Page::source, Qt::Key_Left, Page::webhooks},
        {"left of the first", Qt::LeftToRight, Page::general, Qt::Key_Left, Page::general},
        {"right of the last", Qt::LeftToRight, Page::about, Qt::Key_Right, Page::about},
        {"left, right to left", Qt::RightToLeft, Page::general, Qt::Key_Left, Page::notifications},
    };
    for (const auto& row : keys) {
        SCOPED_TRACE(row.name);
        window.setLayoutDirection(row.direction);
        window.showPage(row.from);
        tab(row.from)->setFocus(Qt::TabFocusReason);
        press(row.key);
        EXPECT_EQ(window.page(), row.to);
        EXPECT_EQ(QApplication::focusWidget(), tab(row.to));
    }
}

// As in a dialog: Return presses the focused push button, else the default button of the part
// of the page that has focus, once; where there is none, nothing. Escape closes.
TEST_F(SettingsWindowTest, ReturnPressesTheDefaultButtonAndEscapeCloses) {
    const test::TempDir folder, elsewhere;
    const std::string codex = test::MonitorHarness::codexIn(folder);
    const auto type = [&](const char* field, const std::string& typed) {
        find<QLineEdit>(window, field)->setText(QString::fromStdString(typed));
    };
    const auto url = [&] { return harness.monitor->loadWebhook().url; };
    const auto sources = [&] { return harness.monitor->preferences().current().sources; };
    const struct {
        const char* name;
        Page page;
        const char* focus;
        std::function<void()> edit;
        std::function<bool()> pressed;
    } rows[] = {
        {"webhook address: Save", Page::webhooks, "webhook.url",
         [&] { type("webhook.url", "https://a.example/1"); },
         [&] { return url() == "https://a.example/1"; }},
        {"webhook format, closed: Save", Page::webhooks, "webhook.format",
         [&] { type("webhook.url", "https://a.example/2"); },
         [&] { return url() == "https://a.example/2"; }},
        {"Send Test focused: itself, not Save", Page::webhooks, "webhook.test",
         [&] { type("webhook.url", "https://a.example/3"); },
         [&] {
             return harness.monitor->setup().isTestingWebhook() && url() == "https://a.example/2";
         }},
        {"home field: Save and Connect", Page::source, "source.home",
         [&] {
             type("source.executable", codex);
             type("source.home", folder.str());
         },
         [&] { return harness.monitor->settings().codexPath == codex; }},
        {"first source's label: Rename, not Save", Page::source, "source.label",
         [&] {
             type("source.executable", test::MonitorHarness::codexIn(elsewhere));
             type("source.label", "Mine");
         },
         [&] {
             return sources().firstLabel == "Mine" &&
                    harness.monitor->settings().codexPath == codex;
         }},
        {"new source's home: Add, once", Page::source, "source.new_home",
         [&] {
             type("source.new_label", "Work");
             type("source.new_home", folder.str());
         },
         [&] {
             return sources().others.size() == 1 && !test::shown(window, "source.add_feedback");
         }},
        {"General has none", Page::general, "settings.interval", [] {},
         [&] { return window.isVisible() && window.page() == Page::general; }},
    };
    activate();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        window.showPage(row.page);
        row.edit();
        find(window, row.focus)->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Return);
        EXPECT_TRUE(row.pressed());
    }

    press(Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace quotalume
