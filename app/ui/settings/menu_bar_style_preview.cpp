#include "settings/menu_bar_style_preview.hpp"

#include "style/brand_assets.hpp"
#include "style/quotalume_style.hpp"
#include "tray/menu_bar_renderer.hpp"

#include <quotalume/menu_bar_presentation.hpp>

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace quotalume {
namespace {

constexpr int padding = 6;
constexpr int iconSize = 22;
constexpr qreal cornerRadius = 6;

}  // namespace

MenuBarStylePreview::MenuBarStylePreview(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("settings.preview"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAppearance(style_, scope_);
}

void MenuBarStylePreview::setAppearance(MenuBarStyle style, MenuBarScope scope) {
    const bool resize = style != style_ || scope != scope_;
    style_ = style;
    scope_ = scope;
    setAccessibleName(
        QString::fromStdString(MenuBarPresentation::title(sampleBucket(), false, scope_)));
    if (resize) {
        updateGeometry();
    }
    update();
}

RateBucket MenuBarStylePreview::sampleBucket() {
    return RateBucket{"codex", std::nullopt, RateWindow{24, 300, std::nullopt},
                      RateWindow{39, 10080, std::nullopt}};
}

std::optional<QImage> MenuBarStylePreview::image() const {
    MenuBarRenderer renderer;
    renderer.style = style_;
    renderer.items = MenuBarPresentation::items(sampleBucket(), scope_);
    renderer.ink = palette().color(QPalette::WindowText);
    renderer.devicePixelRatio = devicePixelRatioF();
    return renderer.image();
}

QSize MenuBarStylePreview::sizeHint() const {
    const std::optional<QImage> drawn = image();
    const QSize content =
        drawn ? (drawn->deviceIndependentSize().toSize()) : QSize(iconSize, iconSize);
    return content + QSize(2 * padding, 2 * padding);
}

void MenuBarStylePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A strip of panel behind the image, so it reads as the tray would show it.
    QPainterPath strip;
    strip.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    const bool dark = QuotalumeStyle::isDark(palette());
    painter.fillPath(strip, QuotalumeStyle::grey(QuotalumeStyle::Grey::subtleSurface, dark));
    painter.setPen(QuotalumeStyle::grey(QuotalumeStyle::Grey::border, dark));
    painter.drawPath(strip);

    const QRect content = rect().adjusted(padding, padding, -padding, -padding);
    if (const std::optional<QImage> drawn = image()) {
        const QSizeF size = drawn->deviceIndependentSize();
        painter.drawImage(QPointF(content.left(), content.center().y() - size.height() / 2 + 0.5),
                          *drawn);
    } else {
        BrandAssets::menuBarIcon().paint(&painter,
                                         QRect(content.topLeft(), QSize(iconSize, iconSize)));
    }
}

void MenuBarStylePreview::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        update();
    }
    QWidget::changeEvent(event);
}

}  // namespace quotalume
