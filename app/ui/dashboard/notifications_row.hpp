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

private:
    void act();

    Engine& monitor_;
    QLabel* bell_;
    QLabel* title_;
    ToggleSwitch* toggle_;
    QLabel* marker_;
    QLabel* status_;
    QPushButton* action_;
};

}  // namespace quotalume
