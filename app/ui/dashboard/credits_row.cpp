#include "dashboard/credits_row.hpp"

#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QHBoxLayout>
#include <QLabel>

namespace quotalume {
namespace {

constexpr int iconSize = 13;
constexpr int iconColumn = 20;

}  // namespace

// No control inside: read as one element, rather than the label, the balance and its tooltip.
CreditsRow::CreditsRow(bool compact, QWidget* parent)
    : DashboardCardSurface(parent, Reading::asOne) {
    setObjectName(QStringLiteral("credits"));
    icon_ = new QLabel(this);
    icon_->setFixedWidth(iconColumn);
    icon_->setAlignment(Qt::AlignCenter);
    title_ = new QLabel(this);
    title_->setFont(DashboardTypography::body());
    title_->setWordWrap(true);
    stale_ = new QLabel(this);
    stale_->setObjectName(QStringLiteral("creditsStale"));
    stale_->setFont(DashboardTypography::caption());
    stale_->setForegroundRole(QPalette::PlaceholderText);
    value_ = new QLabel(this);
    value_->setObjectName(QStringLiteral("creditsValue"));
    QFont valueFont = DashboardTypography::value();
    valueFont.setPointSizeF(compact ? 15 : 20);
    value_->setFont(valueFont);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, compact ? 3 : 8, 14, compact ? 3 : 8);
    layout->setSpacing(6);
    layout->addWidget(icon_);
    layout->addWidget(title_, 1);
    layout->addWidget(stale_);
    layout->addWidget(value_);
}

void CreditsRow::render(const CreditsSnapshot& credits, bool stale) {
    setDashboardSymbol(icon_, DashboardSymbol::grid, palette().color(QPalette::PlaceholderText),
                       iconSize);
    title_->setText(QString::fromStdString(L10n::text("credits.title")));
    stale_->setText(QString::fromStdString(L10n::text("quota.stale")));
    stale_->setVisible(stale);
    const QString value = QString::fromStdString(credits.displayText());
    value_->setText(value);
    value_->setToolTip(value);
    setAccessibleName(title_->text() + QStringLiteral(", ") + value);
    setAccessibleDescription(stale ? stale_->text() : QString());
}

}  // namespace quotalume
