#include "dashboard/card_stack.hpp"

#include "dashboard/dashboard_card_surface.hpp"
#include "engine.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int spacing = 8;

}  // namespace

CardStack::CardStack(QuotaCard::Density density, QWidget* parent)
    : QWidget(parent), density_(density) {
    setObjectName(QStringLiteral("cards"));
    const bool compact = density != QuotaCard::Density::full;
    grid_ = new QGridLayout;
    grid_->setSpacing(spacing);
    placeholder_ = new DashboardCardSurface(this);
    placeholder_->setObjectName(QStringLiteral("placeholder"));
    placeholderIcon_ = new QLabel(placeholder_);
    placeholderIcon_->setAlignment(Qt::AlignCenter);
    placeholderText_ = new QLabel(placeholder_);
    placeholderText_->setObjectName(QStringLiteral("placeholderText"));
    placeholderText_->setFont(DashboardTypography::body());
    placeholderText_->setForegroundRole(QPalette::PlaceholderText);
    placeholderText_->setAlignment(Qt::AlignCenter);
    placeholderText_->setWordWrap(true);
    auto* placeholderLayout = new QVBoxLayout(placeholder_);
    placeholderLayout->setContentsMargins(14, compact ? 10 : 22, 14, compact ? 10 : 22);
    placeholderLayout->addWidget(placeholderIcon_);
    placeholderLayout->addWidget(placeholderText_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addLayout(grid_);
    layout->addWidget(placeholder_);
}

void CardStack::place(const std::vector<QuotaWindow>& windows) {
    bool same = windows.size() == cards_.size();
    for (std::size_t i = 0; same && i < windows.size(); ++i) {
        same = cards_[i]->kind() == windows[i];
    }
    if (same) {
        return;
    }
    for (QuotaCard* card : cards_) {
        delete card;
    }
    cards_.clear();
    const int columns = density_ != QuotaCard::Density::full ? 2 : 1;
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        auto* card = new QuotaCard(windows[static_cast<std::size_t>(i)], density_, this);
        // An odd last card takes the whole row rather than leave half of it empty.
        const int span = i == count - 1 && i % columns == 0 ? columns : 1;
        grid_->addWidget(card, i / columns, i % columns, 1, span);
        cards_.push_back(card);
    }
    for (int column = 0; column < columns; ++column) {
        grid_->setColumnStretch(column, 1);  // equal halves, whatever each card's text
    }
}

void CardStack::render(const EngineReading& reading, Engine& monitor) {
    const std::vector<QuotaWindow> windows = reading.visibleWindows();
    place(windows);
    const std::optional<RateBucket> bucket =
        reading.snapshot ? reading.snapshot->codexBucket() : std::nullopt;
    for (QuotaCard* card : cards_) {
        const RateWindow window =
            (bucket ? bucket->window(card->kind()) : std::nullopt).value_or(RateWindow{});
        card->render(window, monitor.now(), reading.stale);
        const auto forecast = reading.forecasts.find(card->kind());
        card->renderForecast(
            window, monitor.now(), monitor.series(reading.snapshot, card->kind()),
            forecast == reading.forecasts.end() ? std::nullopt : std::optional(forecast->second));
    }

    placeholder_->setVisible(windows.empty());
    if (windows.empty()) {
        const QColor secondary = palette().color(QPalette::PlaceholderText);
        setDashboardSymbol(placeholderIcon_, DashboardSymbol::chart, secondary, 22);
        const bool loading = !reading.snapshot && !reading.error;
        placeholderText_->setText(
            QString::fromStdString(L10n::text(loading ? "quota.loading" : "quota.empty")));
    }
}

}  // namespace quotalume
