#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace quotalume {

class UsageMonitor;
class WarningLine;

// How the connection to Codex stands: the status, when the shown values were read, the last
// error and any trouble saving, and the refresh button.
class ConnectionStatus : public QWidget {
    Q_OBJECT

public:
    explicit ConnectionStatus(UsageMonitor& monitor, QWidget* parent = nullptr);

    void render();

private:
    UsageMonitor& monitor_;
    QLabel* marker_;
    QLabel* status_;
    QLabel* updated_;
    QToolButton* refresh_;
    WarningLine* error_;
    WarningLine* persistence_;
};

}  // namespace quotalume
