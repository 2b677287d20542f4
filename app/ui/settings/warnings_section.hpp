#pragma once

#include <QGroupBox>

#include <array>

class QCheckBox;
class QFormLayout;

namespace quotalume {

class MonitorBridge;

// Early warnings: the levels of what is left at which to warn, and the forecast's warning.
class WarningsSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit WarningsSection(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();

private:
    void store();

    MonitorBridge& bridge_;
    QFormLayout* form_;
    QWidget* levelsRow_;
    std::array<QCheckBox*, 4> levels_{};
    QCheckBox* forecast_;
};

}  // namespace quotalume
