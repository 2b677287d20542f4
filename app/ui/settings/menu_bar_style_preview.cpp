#include "settings/menu_bar_style_preview.hpp"

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <QPainter>
#include <QPainterPath>

namespace quotalume {
namespace {

constexpr int padding = 8;
constexpr int spacing = 10;
constexpr qreal cornerRadius = 6;
// Panels as people have them: light, and the dark of most themes.
const QColor panels[] = {QColor(0xf0, 0xf0, 0xf0), QColor(0x20, 0x20, 0x20)};

int stripWidth() {
    int width = 2 * padding - spacing;
    for (int pixels : MenuBarStylePreview::sizes) {
        width += pixels + spacing;
    }
    return width;
}

}  // namespace

MenuBarStylePreview::MenuBarStylePreview(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("settings.preview"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAppearance(look_.style, MenuBarScope::both);
}

void MenuBarStylePreview::setAppearance(MenuBarStyle style, MenuBarScope scope,
                                        const std::optional<RateBucket>& current) {
    auto items = MenuBarPresentation::items(current, scope);
    const bool sample = items.empty();
    if (sample) {
        items = MenuBarPresentation::items(sampleBucket(), scope);
    }
    TrayIconImage look{style, std::move(items)};
    setAccessibleName(QString::fromStdString(
        MenuBarPresentation::title(sample ? sampleBucket() : current, false, scope)));
    if (look != look_) {
        look_ = std::move(look);
        update();
    }
}

RateBucket MenuBarStylePreview::sampleBucket() {
    return RateBucket{"codex", std::nullopt, RateWindow{24, 300, std::nullopt},
                      RateWindow{39, 10080, std::nullopt}};
}

QSize MenuBarStylePreview::sizeHint() const {
    const int tallest = sizes[std::size(sizes) - 1];
    return QSize(2 * stripWidth() + spacing, tallest + 2 * padding);
}

void MenuBarStylePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int height = sizeHint().height();
    int left = 0;
    for (const QColor& panel : panels) {
        QPainterPath strip;
        strip.addRoundedRect(QRectF(left + 0.5, 0.5, stripWidth() - 1, height - 1), cornerRadius,
                             cornerRadius);
        painter.fillPath(strip, panel);
        int x = left + padding;
        for (int pixels : sizes) {
            // At the screen's own pixels: this is the picture the tray host gets.
            const qreal ratio = devicePixelRatioF();
            QImage image = look_.image(static_cast<int>(pixels * ratio));
            image.setDevicePixelRatio(ratio);
            painter.drawImage(QPointF(x, (height - pixels) / 2.0), image);
            x += pixels + spacing;
        }
        left += stripWidth() + spacing;
    }
}

}  // namespace quotalume
