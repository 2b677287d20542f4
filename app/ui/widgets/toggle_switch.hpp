#pragma once

#include <QAbstractButton>

namespace quotalume {

// An on/off switch: a capsule with a sliding knob, the accent colour when on. Checkable;
// Space toggles it like a check box.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {36, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace quotalume
