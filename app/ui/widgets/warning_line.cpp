#include "widgets/warning_line.hpp"

#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"

#include <QHBoxLayout>
#include <QLabel>

namespace quotalume {
namespace {

constexpr int iconColumn = 20;
constexpr int iconSize = 13;

}  // namespace

WarningLine::WarningLine(QWidget* parent) : QWidget(parent) {
    icon_ = new QLabel(this);
    icon_->setFixedWidth(iconColumn);
    icon_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setFont(DashboardTypography::caption());
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
    hide();
}

void WarningLine::setMessage(const std::optional<LocalizedMessage>& message) {
    setVisible(message.has_value());
    if (!message) {
        return;
    }
    const QColor colour = QuotalumeStyle::warning(QuotalumeStyle::isDark(palette()));
    setDashboardSymbol(icon_, DashboardSymbol::alertTriangle, colour, iconSize);
    const QString text = QString::fromStdString(message->localized());
    if (text_->text() != text) {
        text_->setText(text);
    }
}

QString WarningLine::text() const {
    return text_->text();
}

}  // namespace quotalume
