#include "settings/general_page.hpp"

#include "monitor_bridge.hpp"
#include "settings/menu_bar_style_preview.hpp"
#include "settings/settings_form.hpp"

#include <quotalume/l10n/app_language.hpp>
#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/menu_bar_style.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cstddef>
#include <string>

namespace quotalume {
namespace {

QComboBox* picker(QWidget* parent, const char* objectName, std::size_t count) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(objectName));
    for (std::size_t i = 0; i < count; ++i) {
        combo->addItem(QString());
    }
    return combo;
}

template <typename Values, typename Value>
int indexOf(const Values& values, Value value) {
    const auto found = std::find(values.begin(), values.end(), value);
    return found == values.end() ? -1 : static_cast<int>(found - values.begin());
}

}  // namespace

GeneralPage::GeneralPage(MonitorBridge& bridge, QWidget* parent)
    : QWidget(parent), bridge_(bridge) {
    setObjectName(QStringLiteral("settings.general"));
    auto* layout = new QVBoxLayout(this);

    languageForm_ = SettingsForm::addSection(this, "settings.language_section", languageBox_);
    language_ = picker(languageBox_, "settings.language", allAppLanguages.size());
    // Sized without measuring every language's own name: that would load the CJK fonts, some
    // megabytes kept all day, for a list that is rarely opened.
    language_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    language_->setMinimumContentsLength(16);
    SettingsForm::addLabelledRow(languageForm_, language_);
    languageFeedback_ = SettingsForm::caption(languageBox_, "settings.language_feedback");
    languageForm_->addRow(languageFeedback_);

    menuBarForm_ = SettingsForm::addSection(this, "settings.menu_bar", menuBar_);
    scope_ = picker(menuBar_, "settings.scope", allMenuBarScopes.size());
    style_ = picker(menuBar_, "settings.style", allMenuBarStyles.size());
    preview_ = new MenuBarStylePreview(menuBar_);
    for (QWidget* field : {static_cast<QWidget*>(scope_), static_cast<QWidget*>(style_),
                           static_cast<QWidget*>(preview_)}) {
        SettingsForm::addLabelledRow(menuBarForm_, field);
    }

    monitoringForm_ = SettingsForm::addSection(this, "settings.monitoring", monitoring_);
    interval_ = picker(monitoring_, "settings.interval", intervals.size());
    startAtLogin_ = new QCheckBox(monitoring_);
    startAtLogin_->setObjectName(QStringLiteral("settings.start_login"));
    loginFeedback_ = SettingsForm::caption(monitoring_, "settings.login_feedback");
    positionHelp_ = SettingsForm::caption(monitoring_, "settings.position_help");
    SettingsForm::addLabelledRow(monitoringForm_, interval_);
    monitoringForm_->addRow(startAtLogin_);
    monitoringForm_->addRow(loginFeedback_);
    monitoringForm_->addRow(positionHelp_);
    layout->addStretch();

    connect(language_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            PreferencesModel& preferences = bridge_.monitor().preferences();
            preferences.setLanguage(allAppLanguages[static_cast<std::size_t>(index)]);
            languageFailure_ = preferences.warning();  // a stored choice clears it
        }
    });
    connect(scope_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            bridge_.monitor().preferences().setScope(
                allMenuBarScopes[static_cast<std::size_t>(index)]);
        }
    });
    connect(style_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            bridge_.monitor().preferences().setStyle(
                allMenuBarStyles[static_cast<std::size_t>(index)]);
        }
    });
    connect(interval_, &QComboBox::currentIndexChanged, this, &GeneralPage::chooseInterval);
    connect(startAtLogin_, &QCheckBox::toggled, this,
            [this](bool enabled) { bridge_.monitor().setLaunchAtLogin(enabled); });

    retranslate();
    refresh();
}

void GeneralPage::retranslate() {
    languageBox_->setTitle(SettingsForm::text("language.title"));
    menuBar_->setTitle(SettingsForm::text("settings.menu_bar"));
    monitoring_->setTitle(SettingsForm::text("settings.monitoring"));
    SettingsForm::setLabel(languageForm_, language_, "settings.interface_language");
    SettingsForm::setLabel(menuBarForm_, scope_, "menu_scope.title");
    SettingsForm::setLabel(menuBarForm_, style_, "menu_style.title");
    SettingsForm::setLabel(menuBarForm_, preview_, "menu_style.preview");
    SettingsForm::setLabel(monitoringForm_, interval_, "settings.interval");
    for (std::size_t i = 0; i < allAppLanguages.size(); ++i) {
        language_->setItemText(static_cast<int>(i),
                               QString::fromStdString(displayName(allAppLanguages[i])));
    }
    for (std::size_t i = 0; i < allMenuBarScopes.size(); ++i) {
        scope_->setItemText(static_cast<int>(i),
                            QString::fromStdString(title(allMenuBarScopes[i])));
    }
    for (std::size_t i = 0; i < allMenuBarStyles.size(); ++i) {
        style_->setItemText(static_cast<int>(i),
                            QString::fromStdString(title(allMenuBarStyles[i])));
    }
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        interval_->setItemText(
            static_cast<int>(i),
            SettingsForm::text("settings.interval_" + std::to_string(intervals[i])));
    }
    startAtLogin_->setText(SettingsForm::text("settings.start_login"));
    positionHelp_->setText(SettingsForm::text("settings.position_help"));
}

void GeneralPage::refresh() {
    const Engine& monitor = bridge_.monitor();
    const QSignalBlocker blockLanguage(language_);
    const QSignalBlocker blockScope(scope_);
    const QSignalBlocker blockStyle(style_);
    const QSignalBlocker blockInterval(interval_);
    const QSignalBlocker blockLogin(startAtLogin_);
    language_->setCurrentIndex(indexOf(allAppLanguages, monitor.preferences().language()));
    scope_->setCurrentIndex(indexOf(allMenuBarScopes, monitor.preferences().scope()));
    style_->setCurrentIndex(indexOf(allMenuBarStyles, monitor.preferences().style()));
    const auto& snapshot = monitor.snapshot();
    preview_->setAppearance(monitor.preferences().style(), monitor.preferences().scope(),
                            snapshot ? snapshot->codexBucket() : std::nullopt);
    // A stored interval that is none of the choices shows no choice rather than a wrong one.
    interval_->setCurrentIndex(indexOf(intervals, monitor.settings().refreshInterval));
    startAtLogin_->setChecked(monitor.setup().loginItemEnabled());
    SettingsForm::show(loginFeedback_, monitor.setup().loginItemFeedback());
    SettingsForm::show(languageFeedback_, languageFailure_);
}

void GeneralPage::chooseInterval(int index) {
    if (index < 0) {
        return;
    }
    Settings next = bridge_.monitor().settings();
    next.refreshInterval = intervals[static_cast<std::size_t>(index)];
    bridge_.monitor().preferences().setSettings(next);
}

}  // namespace quotalume
