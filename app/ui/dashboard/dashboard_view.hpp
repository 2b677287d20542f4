#pragma once

#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace quotalume {

class ConnectionStatus;
class MonitorBridge;
class NotificationsRow;
class PlanBadge;
class SourceSection;

// The dashboard's content, top to bottom: header, each source's section (its figures: why Codex
// takes no usage now, quota cards or a placeholder, the other buckets, the spend limit, banked
// resets, credits), notifications, connection status and the footer. It keeps nothing but what
// it shows and renders everything again, texts included, whenever the bridge reports a change.
class DashboardView : public QWidget {
    Q_OBJECT

public:
    DashboardView(MonitorBridge& bridge, std::function<void()> openSettings,
                  QWidget* parent = nullptr);

    void render();
    // Renders what changed while hidden; a hidden dashboard does no work for changes.
    void catchUp();
    // Compact: cards two abreast with lower charts, no subtitle and tighter spacing, for a
    // screen too low for the full layout. Renders again when it changes.
    void setCompact(bool compact);
    bool compact() const { return compact_; }

Q_SIGNALS:
    // After every render: the content's height may have changed.
    void rendered();
    // The header's close button was pressed.
    void closeRequested();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void renderSources();
    void orderForReading();

    MonitorBridge& bridge_;
    bool outdated_ = false;
    bool compact_ = false;
    QVBoxLayout* layout_;
    QLabel* subtitle_;
    PlanBadge* badge_;  // alone; among several sources each section shows its own
    QToolButton* close_;
    QVBoxLayout* sourcesLayout_;
    std::vector<SourceSection*> sections_;
    NotificationsRow* notifications_;
    ConnectionStatus* status_;
    QPushButton* settings_;
    QPushButton* quit_;
};

}  // namespace quotalume
