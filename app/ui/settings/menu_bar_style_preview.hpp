#pragma once

#include <quotalume/menu_bar_style.hpp>
#include <quotalume/rate_limits.hpp>

#include <QImage>
#include <QWidget>

#include <optional>

namespace quotalume {

// What the tray would show in a style and scope, drawn from a fixed sample: 5H 76%, 7D 61%.
class MenuBarStylePreview final : public QWidget {
    Q_OBJECT

public:
    explicit MenuBarStylePreview(QWidget* parent = nullptr);

    // Also renders the accessible name again in the current language.
    void setAppearance(MenuBarStyle style, MenuBarScope scope);

    static RateBucket sampleBucket();
    // The full-width tray image in the palette's text colour; nothing when the renderer has none.
    std::optional<QImage> image() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    MenuBarStyle style_ = MenuBarStyle::percentage;
    MenuBarScope scope_ = MenuBarScope::both;
};

}  // namespace quotalume
