#include "settings/history_list.hpp"

#include "monitor_state.hpp"
#include "settings/settings_form.hpp"
#include "widgets/leading_alignment.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace quotalume {
namespace {

QLabel* line(QWidget* parent, const std::string& text) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

struct Entry {
    std::string title;
    Date observedAt;
    const Delivery* delivery;
};

QWidget* row(QWidget* parent, const Entry& record) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(QStringLiteral("history.row"));
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(2);

    QLabel* title = line(widget, record.title);
    title->setObjectName(QStringLiteral("history.title"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    QLabel* when = SettingsForm::caption(widget, "history.date");
    when->setText(QString::fromStdString(
        L10n::date(record.observedAt, DateStyle::mediumStyle, DateStyle::mediumStyle)));
    layout->addWidget(when);

    QLabel* status = SettingsForm::caption(widget, "history.status");
    status->setText(QString::fromStdString(record.delivery->localStatus.localized() + " · " +
                                           record.delivery->webhookStatus.localized()));
    layout->addWidget(status);
    return widget;
}

}  // namespace

HistoryList::HistoryList(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("notification.history"));
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
}

void HistoryList::show(const std::vector<EventRecord>& resets,
                       const std::vector<WarningRecord>& warnings) {
    std::vector<Entry> records;
    for (const EventRecord& record : resets) {
        records.push_back({record.event.title(), record.event.observedAt, &record});
    }
    for (const WarningRecord& record : warnings) {
        records.push_back({record.event.title(), record.event.observedAt, &record});
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const Entry& a, const Entry& b) { return a.observedAt > b.observedAt; });
    while (QLayoutItem* item = layout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (records.empty()) {
        QLabel* empty = SettingsForm::caption(this, "history.empty");
        empty->setText(SettingsForm::text("notification.no_history"));
        layout_->addWidget(empty);
        alignLabelsToLayout(this);
        return;
    }
    const std::size_t count = std::min(records.size(), limit);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            auto* separator = new QFrame(this);
            separator->setFrameShape(QFrame::HLine);
            separator->setFrameShadow(QFrame::Plain);
            separator->setForegroundRole(QPalette::Mid);
            layout_->addWidget(separator);
        }
        layout_->addWidget(row(this, records[i]));
    }
    // Rows stand on the leading side, the right in a right-to-left layout, whatever their script.
    alignLabelsToLayout(this);
}

}  // namespace quotalume
