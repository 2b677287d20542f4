#pragma once

#include <QWidget>

#include <cstddef>
#include <vector>

class QVBoxLayout;

namespace quotalume {

struct EventRecord;

// The latest detected resets: title, when, and what became of the notification and the webhook.
class HistoryList final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::size_t limit = 20;

    explicit HistoryList(QWidget* parent = nullptr);

    // The first `limit` records in the order given, or the no-history text; rendered in the
    // current language.
    void show(const std::vector<EventRecord>& records);

private:
    QVBoxLayout* layout_;
};

}  // namespace quotalume
