#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace quotalume {

class ToggleSwitch;
class Engine;

// The reset alerts switch, bound to the notifications setting, with the desktop's permission
// and, while notifications are not allowed, the way to allow them.
class NotificationsRow : public QWidget {
    Q_OBJECT

public:
    explicit NotificationsRow(Engine& monitor, QWidget* parent = nullptr);

    void render();
    // Compact: the permission's line only while something is not permitted.
    void setCompact(bool compact) { compact_ = compact; }

private:
    void act();

    bool compact_ = false;

    Engine& monitor_;
    QLabel* bell_;
    QLabel* title_;
    ToggleSwitch* toggle_;
    QLabel* marker_;
    QLabel* status_;
    QPushButton* action_;
};

}  // namespace quotalume
