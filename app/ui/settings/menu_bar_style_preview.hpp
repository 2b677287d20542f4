#pragma once

#include "tray/tray_icon_image.hpp"

#include <quotalume/presentation/menu_bar_style.hpp>
#include <quotalume/usage/rate_limits.hpp>

#include <QWidget>

#include <optional>

namespace quotalume {

// What the tray shows in a style and scope, exactly as the tray draws it, on a light and on a
// dark strip of panel at the sizes panels use most: from the current figures when there are
// any, else from a sample (5H 76%, 7D 61%).
class MenuBarStylePreview final : public QWidget {
    Q_OBJECT

public:
    static constexpr int sizes[] = {22, 32, 48};

    explicit MenuBarStylePreview(QWidget* parent = nullptr);

    // Also renders the accessible name again in the current language.
    void setAppearance(MenuBarStyle style, MenuBarScope scope,
                       const std::optional<RateBucket>& current = std::nullopt);

    static RateBucket sampleBucket();
    // The tray's image, as drawn here.
    const TrayIconImage& look() const { return look_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TrayIconImage look_;
};

}  // namespace quotalume
