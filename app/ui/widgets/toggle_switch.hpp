#pragma once

#include <QAbstractButton>

namespace quotalume {

// An on/off switch: a capsule with a sliding knob, the accent colour when on. Checkable;
// Space toggles it like a check box. Keyboard focus rings it in the foreground grey.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    // Between the widget's edge and the track, for the focus ring.
    static constexpr int ringRoom = 3;

    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {34 + 2 * ringRoom, 18 + 2 * ringRoom}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace quotalume
