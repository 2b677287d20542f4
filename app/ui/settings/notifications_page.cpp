#include "settings/notifications_page.hpp"

#include "monitor_bridge.hpp"
#include "settings/history_list.hpp"
#include "settings/settings_form.hpp"
#include "settings/warnings_section.hpp"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace quotalume {
namespace {

QPushButton* button(QWidget* parent, const char* objectName) {
    auto* result = new QPushButton(parent);
    result->setObjectName(QString::fromLatin1(objectName));
    return result;
}

}  // namespace

NotificationsPage::NotificationsPage(MonitorBridge& bridge, QWidget* parent)
    : QWidget(parent), bridge_(bridge) {
    setObjectName(QStringLiteral("settings.notifications"));
    auto* layout = new QVBoxLayout(this);

    QFormLayout* alerts = SettingsForm::addSection(this, "notification.reset_section", alerts_);
    enabled_ = new QCheckBox(alerts_);
    enabled_->setObjectName(QStringLiteral("notification.toggle"));
    sound_ = new QCheckBox(alerts_);
    sound_->setObjectName(QStringLiteral("notification.sound"));
    alerts->addRow(enabled_);
    alerts->addRow(sound_);
    warnings_ = new WarningsSection(bridge, this);
    layout->addWidget(warnings_);

    QFormLayout* permission =
        SettingsForm::addSection(this, "notification.permission_section", permission_);
    status_ = new QLabel(permission_);
    status_->setObjectName(QStringLiteral("notification.status"));
    status_->setWordWrap(true);
    allow_ = button(permission_, "notification.allow");
    openSettings_ = button(permission_, "notification.open_settings");
    test_ = button(permission_, "notification.test");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(allow_);
    buttons->addWidget(openSettings_);
    buttons->addWidget(test_);
    buttons->addStretch();
    feedback_ = SettingsForm::caption(permission_, "notification.feedback");
    permission->addRow(status_);
    permission->addRow(buttons);
    permission->addRow(feedback_);

    QFormLayout* history =
        SettingsForm::addSection(this, "notification.history_section", historySection_);
    history_ = new HistoryList(historySection_);
    history->addRow(history_);
    layout->addStretch();

    connect(enabled_, &QCheckBox::toggled, this,
            [this](bool on) { setFlags(on, sound_->isChecked()); });
    connect(sound_, &QCheckBox::toggled, this,
            [this](bool on) { setFlags(enabled_->isChecked(), on); });
    // The desktop's notification service is asked anew; there is no separate request to grant.
    connect(allow_, &QPushButton::clicked, this,
            [this] { bridge_.monitor().notifier().refreshPermission(); });
    connect(openSettings_, &QPushButton::clicked, this,
            [this] { bridge_.monitor().notifier().openSystemSettings(); });
    connect(test_, &QPushButton::clicked, this, [this] { bridge_.monitor().testNotification(); });

    retranslate();
    refresh();
}

void NotificationsPage::retranslate() {
    alerts_->setTitle(SettingsForm::text("notification.reset_section"));
    permission_->setTitle(SettingsForm::text("notification.permission_section"));
    historySection_->setTitle(SettingsForm::text("notification.history_all"));
    warnings_->retranslate();
    enabled_->setText(SettingsForm::text("notification.toggle"));
    sound_->setText(SettingsForm::text("notification.sound"));
    allow_->setText(SettingsForm::text("notification.allow"));
    openSettings_->setText(SettingsForm::text("notification.open_settings"));
    test_->setText(SettingsForm::text("notification.test"));
    stale_ = true;
}

void NotificationsPage::refresh() {
    Engine& monitor = bridge_.monitor();
    const Settings& settings = monitor.settings();
    {
        const QSignalBlocker blockEnabled(enabled_);
        const QSignalBlocker blockSound(sound_);
        enabled_->setChecked(settings.notificationsEnabled);
        sound_->setChecked(settings.notificationSound);
        sound_->setEnabled(settings.notificationsEnabled);
    }
    LocalNotifier& notifier = monitor.notifier();
    status_->setText(QString::fromStdString(notifier.statusText()));
    const NotificationAuthorization status = notifier.authorization();
    allow_->setVisible(status == NotificationAuthorization::notDetermined ||
                       status == NotificationAuthorization::unavailable);
    allow_->setText(SettingsForm::text(status == NotificationAuthorization::unavailable
                                           ? "notification.check_again"
                                           : "notification.allow"));
    openSettings_->setVisible(status == NotificationAuthorization::denied &&
                              notifier.canOpenSystemSettings());
    SettingsForm::show(feedback_, monitor.setup().notificationFeedback());
    warnings_->refresh();
    // What was announced and what was only recorded, in one list by time.
    std::vector<EventRecord> resets = monitor.records();
    resets.insert(resets.end(), monitor.otherRecords().begin(), monitor.otherRecords().end());
    std::vector<WarningRecord> warnings = monitor.limitWarnings();
    warnings.insert(warnings.end(), monitor.otherWarnings().begin(), monitor.otherWarnings().end());
    if (stale_ || shown_ != resets || shownWarnings_ != warnings) {
        shown_ = std::move(resets);
        shownWarnings_ = std::move(warnings);
        stale_ = false;
        history_->show(shown_, shownWarnings_);
    }
}

void NotificationsPage::setFlags(bool enabled, bool sound) {
    Settings next = bridge_.monitor().settings();
    next.notificationsEnabled = enabled;
    next.notificationSound = sound;
    bridge_.monitor().preferences().setSettings(next);
}

}  // namespace quotalume
