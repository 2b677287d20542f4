#pragma once

#include <quotalume/preferences/account_sources.hpp>

#include <QGroupBox>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

class QComboBox;
class QFormLayout;
class QLabel;

namespace quotalume {

class MonitorBridge;
class SourceRow;

// The sources after the first, each a row to rename, reorder or remove, and the choice of the
// source the tray shows. Rows are made once, as many as there can be sources, so the keyboard
// reaches them in the order they are shown.
class AccountsSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit AccountsSection(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();

private:
    void rename(std::size_t row, const QString& label);
    void move(std::size_t row, int by);
    void remove(std::size_t row);
    void showReadings();
    // The tray's choices: the first source, the others, the closest; rebuilt when labels change.
    void listTrayChoices();

    MonitorBridge& bridge_;
    QFormLayout* form_;
    QComboBox* tray_;
    QLabel* none_;
    std::array<SourceRow*, AccountSources::maximum - 1> rows_{};
    std::vector<std::string> trayLabels_;  // of the tray's choices as listed
};

}  // namespace quotalume
