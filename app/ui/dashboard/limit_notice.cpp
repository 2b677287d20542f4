#include "dashboard/limit_notice.hpp"

#include "style/dashboard_typography.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int iconSize = 14;
constexpr int iconColumn = 20;

}  // namespace

LimitNotice::LimitNotice(const char* name, QWidget* parent) : DashboardCardSurface(parent) {
    setObjectName(QString::fromLatin1(name));
    icon_ = new QLabel(this);
    icon_->setFixedWidth(iconColumn);
    icon_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    line_ = new QLabel(this);
    line_->setObjectName(QStringLiteral("line"));
    line_->setFont(DashboardTypography::body());
    line_->setWordWrap(true);
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("caption"));
    caption_->setFont(DashboardTypography::caption());
    caption_->setForegroundRole(QPalette::PlaceholderText);
    caption_->setWordWrap(true);
    value_ = new QLabel(this);
    value_->setObjectName(QStringLiteral("value"));
    value_->setFont(DashboardTypography::title());
    value_->setAlignment(Qt::AlignRight | Qt::AlignTop);

    // What Codex says (a spend limit's amounts) shows as it is, never as markup.
    for (QLabel* label : {line_, caption_, value_}) {
        label->setTextFormat(Qt::PlainText);
    }
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(line_);
    texts->addWidget(caption_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 9, 14, 9);
    layout->setSpacing(6);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    layout->addWidget(value_, 0, Qt::AlignTop);
}

void LimitNotice::render(DashboardSymbol symbol, const QColor& colour, const QString& line,
                         const QString& caption, const QString& value) {
    setDashboardSymbol(icon_, symbol, colour, iconSize);
    line_->setText(line);
    QPalette linePalette = line_->palette();
    linePalette.setColor(QPalette::WindowText, colour);
    line_->setPalette(linePalette);
    caption_->setText(caption);
    caption_->setVisible(!caption.isEmpty());
    value_->setText(value);
    value_->setVisible(!value.isEmpty());
}

QString LimitNotice::line() const {
    return line_->text();
}

}  // namespace quotalume
