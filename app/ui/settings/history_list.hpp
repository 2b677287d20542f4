#pragma once

#include <QWidget>

#include <cstddef>
#include <vector>

class QVBoxLayout;

namespace quotalume {

struct Delivery;
struct LimitWarning;
struct ResetEvent;
template <typename Event>
struct DeliveryRecord;
using EventRecord = DeliveryRecord<ResetEvent>;
using WarningRecord = DeliveryRecord<LimitWarning>;

// The latest resets and warnings: title, when, and what became of the notification and the
// webhook.
class HistoryList final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::size_t limit = 20;

    explicit HistoryList(QWidget* parent = nullptr);

    // The newest `limit` of both lists (each newest first), or the no-history text; rendered in
    // the current language.
    void show(const std::vector<EventRecord>& records,
              const std::vector<WarningRecord>& warnings = {});

private:
    QVBoxLayout* layout_;
};

}  // namespace quotalume
