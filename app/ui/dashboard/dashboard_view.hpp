#pragma once

#include <quotalume/usage/rate_limits.hpp>

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quotalume {

class BucketSection;
class ConnectionStatus;
class CreditsRow;
class DashboardCardSurface;
class LimitNotice;
class MonitorBridge;
class NotificationsRow;
class PlanBadge;
class QuotaCard;

// The dashboard's content, top to bottom: header, why Codex takes no usage now (when it does
// not), quota cards (or a placeholder), the other buckets, the spend limit, banked resets,
// credits, notifications, connection status and the footer. It keeps nothing but what it shows and
// renders everything again, texts included, whenever the bridge reports a change.
class DashboardView : public QWidget {
    Q_OBJECT

public:
    DashboardView(MonitorBridge& bridge, std::function<void()> openSettings,
                  QWidget* parent = nullptr);

    void render();
    // Renders what changed while hidden; a hidden dashboard does no work for changes.
    void catchUp();

Q_SIGNALS:
    // After every render: the content's height may have changed.
    void rendered();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void renderQuota(const std::optional<RateBucket>& bucket);
    void renderLimits(const std::optional<RateBucket>& bucket);
    void renderOtherBuckets();

    MonitorBridge& bridge_;
    bool outdated_ = false;
    QLabel* subtitle_;
    PlanBadge* badge_;
    QVBoxLayout* cardsLayout_;
    std::vector<QuotaCard*> cards_;
    QVBoxLayout* bucketsLayout_;
    std::vector<BucketSection*> buckets_;
    DashboardCardSurface* placeholder_;
    QLabel* placeholderIcon_;
    QLabel* placeholderText_;
    LimitNotice* blocked_;  // above the cards: it outranks whatever they show
    LimitNotice* spend_;
    LimitNotice* bankedResets_;
    CreditsRow* credits_;
    NotificationsRow* notifications_;
    ConnectionStatus* status_;
    QPushButton* settings_;
    QPushButton* quit_;
};

}  // namespace quotalume
