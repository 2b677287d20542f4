#pragma once

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QHBoxLayout;

namespace quotalume {

// A row of exclusive segments on one rounded track; the chosen one is filled with the accent.
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QWidget* parent = nullptr);

    // A new segment at the end; its id in group() is its position.
    QAbstractButton* addSegment(const QString& objectName);
    QButtonGroup* group() const { return group_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QButtonGroup* group_;
    QHBoxLayout* layout_;
};

}  // namespace quotalume
