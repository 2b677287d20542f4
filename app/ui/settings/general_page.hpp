#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <QWidget>

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;

namespace quotalume {

class MenuBarStylePreview;
class MonitorBridge;

// Language, what the tray shows and how, how often to read, and starting at login.
class GeneralPage final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::array<int, 5> intervals = {15, 30, 60, 120, 300};  // seconds

    explicit GeneralPage(MonitorBridge& bridge, QWidget* parent = nullptr);

    // Every text in the current language.
    void retranslate();
    // The controls from the monitor's published values.
    void refresh();

private:
    void chooseInterval(int index);

    MonitorBridge& bridge_;
    QGroupBox* languageBox_;
    QGroupBox* menuBar_;
    QGroupBox* monitoring_;
    QFormLayout* languageForm_;
    QFormLayout* menuBarForm_;
    QFormLayout* monitoringForm_;
    QComboBox* language_;
    QComboBox* scope_;
    QComboBox* style_;
    MenuBarStylePreview* preview_;
    QComboBox* interval_;
    QCheckBox* startAtLogin_;
    QLabel* loginFeedback_;
    QLabel* languageFeedback_;
    // Why the last language choice could not be stored, shown until the next choice.
    std::optional<LocalizedMessage> languageFailure_;
    QLabel* positionHelp_;
};

}  // namespace quotalume
