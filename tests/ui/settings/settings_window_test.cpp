#include "settings/settings_window.hpp"
#include "monitor_harness.hpp"
#include "settings/history_list.hpp"
#include "settings/menu_bar_style_preview.hpp"
#include "settings/webhook_page.hpp"

#include <quotalume/menu_bar_presentation.hpp>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace quotalume {
namespace {

template <typename Widget = QWidget>
Widget* child(const QWidget& root, const char* name) {
    auto* found = root.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString text(std::string_view key) {
    return QString::fromStdString(L10n::text(key));
}

template <typename Values, typename Value>
int indexOf(const Values& values, Value value) {
    return static_cast<int>(std::find(values.begin(), values.end(), value) - values.begin());
}

QString secretLabel(const QWidget& window) {
    auto* form = child(window, "settings.webhooks")->findChild<QFormLayout*>();
    return static_cast<QLabel*>(form->labelForField(child(window, "webhook.secret")))->text();
}

// A shown window: a hidden one leaves the monitor's changes until it is shown again.
struct Fixture {
    Fixture() { window.show(); }
    test::MonitorHarness harness;
    SettingsWindow window{*harness.bridge};
};

TEST(SettingsWindowTest, CredentialFieldsFollowTheFormat) {
    struct Row {
        WebhookFormat format;
        bool token;
        bool secret;
        const char* secretKey;
    };
    const Row rows[] = {
        {WebhookFormat::json, true, true, "webhook.secret"},
        {WebhookFormat::feishu, false, true, "webhook.bot_secret"},
        {WebhookFormat::slack, false, false, nullptr},
        {WebhookFormat::discord, false, false, nullptr},
        {WebhookFormat::wecom, false, false, nullptr},
    };
    Fixture f;
    f.window.showPage(SettingsWindow::Page::webhooks);
    auto* format = child<QComboBox>(f.window, "webhook.format");
    for (const Row& row : rows) {
        SCOPED_TRACE(rawValue(row.format));
        format->setCurrentIndex(
            format->findData(QString::fromStdString(std::string(rawValue(row.format)))));
        EXPECT_EQ(child(f.window, "webhook.token")->isVisibleTo(&f.window), row.token);
        EXPECT_EQ(child(f.window, "webhook.secret")->isVisibleTo(&f.window), row.secret);
        if (row.secretKey) {
            EXPECT_EQ(secretLabel(f.window), text(row.secretKey));
        }
    }
    EXPECT_EQ(child<QLineEdit>(f.window, "webhook.secret")->echoMode(), QLineEdit::Password);
}

TEST(SettingsWindowTest, SaveSendsTheCleanedConfiguration) {
    struct Row {
        WebhookFormat format;
        const char* token;
        const char* secret;
    };
    const Row rows[] = {
        {WebhookFormat::json, "tok", "sec"}, {WebhookFormat::feishu, "", "sec"},
        {WebhookFormat::slack, "", ""},      {WebhookFormat::discord, "", ""},
        {WebhookFormat::wecom, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(rawValue(row.format));
        const WebhookConfiguration cleaned = WebhookPage::cleaned(
            {" \t https://hooks.example.com/a b\u2028\r\n", row.format, "tok", "sec"});
        EXPECT_EQ(cleaned.url, "https://hooks.example.com/a b");
        EXPECT_EQ(cleaned.format, row.format);
        EXPECT_EQ(cleaned.bearerToken, row.token);
        EXPECT_EQ(cleaned.signingSecret, row.secret);
    }

    // Through the window: slack keeps no credential typed while json was chosen.
    Fixture f;
    child<QCheckBox>(f.window, "webhook.toggle")->setChecked(true);
    child<QLineEdit>(f.window, "webhook.url")
        ->setText(QStringLiteral("  https://hooks.example.com/x \n"));
    child<QLineEdit>(f.window, "webhook.token")->setText(QStringLiteral("typed token"));
    child<QLineEdit>(f.window, "webhook.secret")->setText(QStringLiteral("typed secret"));
    auto* format = child<QComboBox>(f.window, "webhook.format");
    format->setCurrentIndex(format->findData(QStringLiteral("slack")));
    child<QPushButton>(f.window, "webhook.save")->click();
    EXPECT_EQ(f.harness.monitor->loadWebhook(),
              (WebhookConfiguration{"https://hooks.example.com/x", WebhookFormat::slack, "", ""}));
    EXPECT_TRUE(f.harness.monitor->settings().webhookEnabled);
}

TEST(SettingsWindowTest, HistoryShowsTheFirstTwentyOrTheEmptyText) {
    std::vector<EventRecord> records(25);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].event = ResetEvent::test(Date{} + std::chrono::hours(i));
        records[i].localStatus = LocalizedMessage("notification.submitted");
        records[i].webhookStatus = LocalizedMessage("webhook.disabled");
    }
    HistoryList list;
    list.show(records);
    const auto rows = list.findChildren<QWidget*>(QStringLiteral("history.row"));
    ASSERT_EQ(rows.size(), 20);
    EXPECT_EQ(rows.front()->findChild<QLabel*>(QStringLiteral("history.status"))->text(),
              text("notification.submitted") + QStringLiteral(" · ") + text("webhook.disabled"));
    EXPECT_EQ(list.findChild<QLabel*>(QStringLiteral("history.empty")), nullptr);

    list.show({});
    EXPECT_TRUE(list.findChildren<QWidget*>(QStringLiteral("history.row")).isEmpty());
    EXPECT_EQ(child<QLabel>(list, "history.empty")->text(), text("notification.no_history"));
}

TEST(SettingsWindowTest, LanguageSwitchRetitlesEverythingAtOnce) {
    Fixture f;
    auto* language = child<QComboBox>(f.window, "settings.language");
    language->setCurrentIndex(indexOf(allAppLanguages, AppLanguage::german));
    f.harness.settle();
    ASSERT_EQ(L10n::language(), AppLanguage::german);

    EXPECT_EQ(f.window.windowTitle(), text("app.settings_title"));
    EXPECT_EQ(child<QAbstractButton>(f.window, "settings.page.notifications")->text(),
              text("settings.notifications"));
    EXPECT_EQ(child<QAbstractButton>(f.window, "settings.page.webhooks")->text(), "Webhook");
    EXPECT_EQ(child<QGroupBox>(f.window, "settings.menu_bar")->title(), text("settings.menu_bar"));
    EXPECT_EQ(language->itemText(0), QString::fromStdString(displayName(AppLanguage::system)));
    EXPECT_EQ(child<QComboBox>(f.window, "settings.scope")
                  ->itemText(indexOf(allMenuBarScopes, MenuBarScope::both)),
              text("menu_scope.both"));
    EXPECT_EQ(child<QComboBox>(f.window, "settings.style")
                  ->itemText(indexOf(allMenuBarStyles, MenuBarStyle::rings)),
              text("menu_style.rings"));
    EXPECT_EQ(child<QPushButton>(f.window, "source.save")->text(), text("source.save"));
    EXPECT_EQ(f.window.windowTitle(), "Quotalume-Einstellungen");

    // A hidden window catches up as it is shown again.
    f.window.hide();
    f.harness.bridge->setLanguage(AppLanguage::french);
    f.harness.settle();
    f.window.show();
    EXPECT_EQ(child<QAbstractButton>(f.window, "settings.page.source")->text(),
              text("settings.source"));
    EXPECT_EQ(f.window.windowTitle(), text("app.settings_title"));
}

TEST(SettingsWindowTest, WeeklyRingsPreviewOneRingLabelled7D) {
    Fixture f;
    auto* preview = child<MenuBarStylePreview>(f.window, "settings.preview");
    child<QComboBox>(f.window, "settings.style")
        ->setCurrentIndex(indexOf(allMenuBarStyles, MenuBarStyle::rings));
    f.harness.settle();
    const int bothWidth = preview->image()->width();
    child<QComboBox>(f.window, "settings.scope")
        ->setCurrentIndex(indexOf(allMenuBarScopes, MenuBarScope::weekly));
    f.harness.settle();
    EXPECT_EQ(f.harness.monitor->menuBarScope(), MenuBarScope::weekly);
    EXPECT_EQ(preview->accessibleName(), "7D 61%");
    EXPECT_LT(preview->image()->width(), bothWidth);
}

TEST(SettingsWindowTest, IntervalAndLoginToggleGoThroughTheMonitor) {
    Fixture f;
    auto* interval = child<QComboBox>(f.window, "settings.interval");
    interval->setCurrentIndex(3);
    EXPECT_EQ(f.harness.monitor->settings().refreshInterval, 120);

    auto* login = child<QCheckBox>(f.window, "settings.start_login");
    login->click();
    f.harness.settle();
    EXPECT_EQ(f.harness.loginItems.current, LoginItemStatus::enabled);
    EXPECT_TRUE(login->isChecked());

    f.harness.loginItems.refuse = true;
    login->click();
    f.harness.settle();
    EXPECT_TRUE(login->isChecked()) << "the service refused; still registered";
    EXPECT_EQ(child<QLabel>(f.window, "settings.login_feedback")->text(), text("login.failed"));
}

TEST(SettingsWindowTest, AFoundExecutableIsOfferedAndAdoptedOnlyBySave) {
    const test::TempDir folder;
    const std::string codex = folder.write("codex", "#!/bin/sh\n").string();
    std::filesystem::permissions(codex, std::filesystem::perms::owner_all);
    const test::ScopedEnvironment path("PATH", folder.str());
    Fixture f;
    auto* use = child<QPushButton>(f.window, "source.use");
    ASSERT_EQ(use->toolTip(), QString::fromStdString(codex));
    EXPECT_EQ(child<QLabel>(f.window, "source.found")->text(),
              QString::fromStdString(L10n::text("source.found", codex)));

    use->click();
    EXPECT_EQ(child<QLineEdit>(f.window, "source.executable")->text(),
              QString::fromStdString(codex));
    EXPECT_EQ(f.harness.monitor->settings().codexPath, "") << "nothing adopted before Save";
    child<QLineEdit>(f.window, "source.home")->setText(QString::fromStdString(folder.str()));
    child<QPushButton>(f.window, "source.save")->click();
    EXPECT_EQ(f.harness.monitor->settings().codexPath, codex);
}

TEST(SettingsWindowTest, ASourceSavedElsewhereReplacesOnlyFieldsLeftAlone) {
    const test::TempDir folder;
    const std::string codex = folder.write("codex", "#!/bin/sh\n").string();
    std::filesystem::permissions(codex, std::filesystem::perms::owner_all);
    Fixture f;
    auto* home = child<QLineEdit>(f.window, "source.home");
    home->setText(QStringLiteral("/typed/but/not/saved"));
    // The dashboard's offer saves a new executable while the window stays open.
    f.harness.monitor->saveAndConnect(codex, folder.str());
    f.harness.loop.drain();
    f.harness.settle();
    EXPECT_EQ(child<QLineEdit>(f.window, "source.executable")->text(),
              QString::fromStdString(codex));
    EXPECT_EQ(home->text(), QStringLiteral("/typed/but/not/saved"));
}

}  // namespace
}  // namespace quotalume
