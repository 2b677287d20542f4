#pragma once

#include <QWidget>

#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace quotalume {

class HistoryList;
class MonitorBridge;
struct ResetEvent;
struct LimitWarning;
template <typename Event>
struct DeliveryRecord;
class WarningsSection;

// Reset alerts on or off, early warnings, the desktop's permission, a test, and the latest
// resets and warnings.
class NotificationsPage final : public QWidget {
    Q_OBJECT

public:
    explicit NotificationsPage(MonitorBridge& bridge, QWidget* parent = nullptr);

    void retranslate();
    void refresh();

private:
    void setFlags(bool enabled, bool sound);

    MonitorBridge& bridge_;
    QGroupBox* alerts_;
    QGroupBox* permission_;
    QGroupBox* historySection_;
    QCheckBox* enabled_;
    QCheckBox* sound_;
    QLabel* status_;
    QPushButton* allow_;
    QPushButton* openSettings_;
    QPushButton* test_;
    QLabel* feedback_;
    HistoryList* history_;
    // What the list shows, so it is rebuilt only when the records change.
    std::vector<DeliveryRecord<ResetEvent>> shown_;
    std::vector<DeliveryRecord<LimitWarning>> shownWarnings_;
    WarningsSection* warnings_;
    bool stale_ = true;
};

}  // namespace quotalume
