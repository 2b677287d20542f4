#include "style/dashboard_symbol.hpp"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <initializer_list>
#include <map>
#include <tuple>

namespace quotalume {
namespace {

QIcon themed(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (!icon.isNull()) {
            return icon;
        }
    }
    return {};
}

QIcon themed(DashboardSymbol symbol) {
    switch (symbol) {
        case DashboardSymbol::chart:
            return themed({"office-chart-bar", "view-statistics"});
        case DashboardSymbol::grid:
            return themed({"view-grid", "view-app-grid-symbolic"});
        case DashboardSymbol::bell:
            return themed({"notifications", "preferences-desktop-notification-bell"});
        case DashboardSymbol::bellSlash:
            return themed({"notifications-disabled", "notifications-disabled-symbolic"});
        case DashboardSymbol::alertCircle:
        case DashboardSymbol::noticeCircle:
            // Theme icons carry their own colours; the two warning levels stay apart only when
            // drawn, so these are always drawn.
            return {};
        case DashboardSymbol::alertTriangle:
            return themed({"dialog-warning", "dialog-warning-symbolic"});
        case DashboardSymbol::refresh:
            return themed({"view-refresh", "view-refresh-symbolic"});
        case DashboardSymbol::settings:
            return themed({"configure", "preferences-system", "emblem-system"});
        case DashboardSymbol::power:
            return themed({"application-exit", "system-shutdown"});
        case DashboardSymbol::close:
            return {};
    }
    return {};
}

void exclamation(QPainter& p, qreal cx, qreal top, qreal bottom, const QColor& color) {
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx, top), QPointF(cx, bottom - 3));
    p.drawPoint(QPointF(cx, bottom));
}

// Drawn on a 16-unit grid.
void draw(QPainter& p, DashboardSymbol symbol, const QColor& color) {
    const QPen line(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(line);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
        case DashboardSymbol::chart:
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawRoundedRect(QRectF(2, 8, 3, 6), 1, 1);
            p.drawRoundedRect(QRectF(6.5, 3, 3, 11), 1, 1);
            p.drawRoundedRect(QRectF(11, 6, 3, 8), 1, 1);
            break;
        case DashboardSymbol::grid:
            for (const QPointF centre :
                 {QPointF(5, 5), QPointF(11, 5), QPointF(5, 11), QPointF(11, 11)}) {
                p.drawEllipse(centre, 2.4, 2.4);
            }
            break;
        case DashboardSymbol::bell:
        case DashboardSymbol::bellSlash: {
            QPainterPath bell;
            bell.moveTo(3, 12);
            bell.lineTo(4.5, 10);
            bell.lineTo(4.5, 7);
            bell.cubicTo(4.5, 1.5, 11.5, 1.5, 11.5, 7);
            bell.lineTo(11.5, 10);
            bell.lineTo(13, 12);
            bell.closeSubpath();
            p.drawPath(bell);
            p.drawLine(QPointF(6.8, 14), QPointF(9.2, 14));
            if (symbol == DashboardSymbol::bellSlash) {
                p.drawLine(QPointF(2, 2), QPointF(14, 14));
            }
            break;
        }
        case DashboardSymbol::alertCircle: {
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            exclamation(p, 8, 4.5, 11.5, Qt::black);
            break;
        }
        case DashboardSymbol::noticeCircle:
            p.drawEllipse(QRectF(1.75, 1.75, 12.5, 12.5));
            exclamation(p, 8, 4.5, 11.5, color);
            break;
        case DashboardSymbol::alertTriangle: {
            QPainterPath triangle;
            triangle.moveTo(8, 1.5);
            triangle.lineTo(15, 14.5);
            triangle.lineTo(1, 14.5);
            triangle.closeSubpath();
            p.setPen(QPen(color, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(color);
            p.drawPath(triangle);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            exclamation(p, 8, 5.5, 12.3, Qt::black);
            break;
        }
        case DashboardSymbol::refresh: {
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 290 * 16);
            QPainterPath head;
            head.moveTo(10.2, 1.2);
            head.lineTo(13.6, 3.4);
            head.lineTo(10.4, 5.9);
            p.drawPath(head);
            break;
        }
        case DashboardSymbol::settings:
            for (const auto& [y, knob] : {std::pair{3.5, 10.5}, {8.0, 5.0}, {12.5, 9.0}}) {
                p.drawLine(QPointF(2, y), QPointF(14, y));
                p.setBrush(color);
                p.drawEllipse(QPointF(knob, y), 1.8, 1.8);
                p.setBrush(Qt::NoBrush);
            }
            break;
        case DashboardSymbol::power:
            p.drawArc(QRectF(2.5, 3, 11, 11), 60 * 16, -300 * 16);
            p.drawLine(QPointF(8, 1.5), QPointF(8, 7.5));
            break;
        case DashboardSymbol::close:
            p.setPen(QPen(color, 2.24, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2.4, 2.4), QPointF(13.6, 13.6));
            p.drawLine(QPointF(13.6, 2.4), QPointF(2.4, 13.6));
            break;
    }
}

}  // namespace

QIcon dashboardSymbol(DashboardSymbol symbol, const QColor& color, int size) {
    // Made once per look and kept: the dashboard redraws at every reading, and a new icon each
    // time would be looked up on disk again and fill Qt's pixmap cache with copies of itself.
    // Symbols, palette colours and sizes are few, so this stays small. The icon theme is part
    // of the look: a theme the desktop switches to is followed.
    static std::map<std::tuple<QString, DashboardSymbol, QRgb, int>, QIcon> made;
    const auto key = std::tuple(QIcon::themeName(), symbol, color.rgba(), size);
    if (const auto found = made.find(key); found != made.end()) {
        return found->second;
    }
    QIcon icon = themed(symbol);
    if (icon.isNull()) {
        for (const int ratio : {1, 2}) {
            QPixmap pixmap(size * ratio, size * ratio);
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(size / 16.0, size / 16.0);
            draw(painter, symbol, color);
            painter.end();
            icon.addPixmap(pixmap);
        }
    }
    return made.emplace(key, icon).first->second;
}

void setDashboardSymbol(QLabel* label, DashboardSymbol symbol, const QColor& color, int size) {
    // An unchanged symbol is not set again: that would lay the label out anew at every redraw.
    const QString look = QStringLiteral("%1/%2/%3/%4/%5")
                             .arg(static_cast<int>(symbol))
                             .arg(color.rgba())
                             .arg(size)
                             .arg(label->devicePixelRatioF())
                             .arg(QIcon::themeName());
    if (label->property("quotalumeSymbol").toString() == look) {
        return;
    }
    label->setProperty("quotalumeSymbol", look);
    label->setPixmap(
        dashboardSymbol(symbol, color, size).pixmap(QSize(size, size), label->devicePixelRatioF()));
}

}  // namespace quotalume
