#include "dashboard/plan_badge.hpp"

#include "style/quotalume_style.hpp"

#include <QFontMetrics>
#include <QPainter>

namespace quotalume {
namespace {

constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 3;

QFont badgeFont(QFont font) {
    font.setPointSizeF(10);
    font.setBold(true);
    return font;
}

}  // namespace

PlanBadge::PlanBadge(QWidget* parent) : QWidget(parent) {
    setFont(badgeFont(font()));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

bool PlanBadge::isProPlan(std::string_view plan) {
    return QString::fromUtf8(plan.data(), static_cast<qsizetype>(plan.size()))
               .compare(QStringLiteral("pro"), Qt::CaseInsensitive) == 0;
}

QString PlanBadge::badgeText(std::string_view plan) {
    if (isProPlan(plan)) {
        return QStringLiteral("Pro");
    }
    return QString::fromUtf8(plan.data(), static_cast<qsizetype>(plan.size())).toUpper();
}

void PlanBadge::setPlan(std::string_view plan) {
    QString text = badgeText(plan);
    if (text != text_) {
        text_ = std::move(text);
        pro_ = isProPlan(plan);
        setAccessibleName(text_);
        updateGeometry();
        update();
    }
}

QSize PlanBadge::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_) + 2 * horizontalPadding,
            metrics.height() + 2 * verticalPadding};
}

void PlanBadge::paintEvent(QPaintEvent*) {
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF bounds = rect();
    if (pro_) {
        painter.setBrush(QuotalumeStyle::proBadgeGradient());
    } else {
        painter.setBrush(QuotalumeStyle::grey(QuotalumeStyle::Grey::progressTrack, dark));
    }
    painter.drawRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    // On the light gradient the text stays dark in either appearance.
    painter.setPen(pro_ ? QColor::fromRgbF(0.15F, 0.15F, 0.15F)
                        : QuotalumeStyle::grey(QuotalumeStyle::Grey::foreground, dark));
    painter.drawText(bounds, Qt::AlignCenter, text_);
}

}  // namespace quotalume
