#include "dashboard/bucket_section.hpp"

#include "style/dashboard_typography.hpp"

#include "engine_reading.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/quota_text.hpp>

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace quotalume {

BucketSection::BucketSection(QWidget* parent) : DashboardCardSurface(parent) {
    header_ = new QToolButton(this);
    header_->setObjectName(QStringLiteral("bucketHeader"));
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setAutoRaise(true);
    header_->setCheckable(true);
    header_->setFont(DashboardTypography::body());
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    details_ = new QLabel(this);
    details_->setObjectName(QStringLiteral("bucketDetails"));
    details_->setFont(DashboardTypography::caption());
    details_->setWordWrap(true);
    details_->setTextFormat(Qt::PlainText);  // Codex's names show as they are
    details_->setContentsMargins(20, 0, 0, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 14, 6);
    layout->setSpacing(2);
    layout->addWidget(header_);
    layout->addWidget(details_);
    connect(header_, &QToolButton::clicked, this, [this](bool open) {
        chosen_ = open;
        show(open);
    });
}

bool BucketSection::isOpen() const {
    return header_->isChecked();
}

void BucketSection::show(bool open) {
    header_->setChecked(open);
    header_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    details_->setVisible(open);
}

void BucketSection::render(const BucketSummary& summary, Date now, bool stale) {
    if (id_ != summary.bucket.id()) {
        id_ = summary.bucket.id();
        setObjectName(QStringLiteral("bucket.") + QString::fromStdString(id_));
        chosen_.reset();
    }
    QString line = QString::fromStdString(summary.line(now));
    if (stale) {
        line += QStringLiteral(" \u00b7 ") + QString::fromStdString(L10n::text("quota.stale"));
    }
    // A button reads "&" as its shortcut's mark: Codex's names show as they are.
    header_->setText(QString(line).replace(QLatin1Char('&'), QStringLiteral("&&")));
    header_->setAccessibleName(line);
    std::string details;
    for (const std::string& window : windowLines(summary.bucket, now)) {
        details += (details.empty() ? "" : "\n") + window;
    }
    details_->setText(QString::fromStdString(details));
    show(chosen_.value_or(summary.pressing));
}

}  // namespace quotalume
