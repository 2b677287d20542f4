#include "style/quotalume_style.hpp"
#include "about/license_view.hpp"
#include "style/brand_assets.hpp"
#include "style/brand_logo.hpp"
#include "widgets/subtle_button.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace quotalume {
namespace {

QPalette paletteWithWindow(const QColor& window, const QColor& text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    return palette;
}

const QPalette lightPalette = paletteWithWindow(QColor(239, 239, 239), Qt::black);
const QPalette darkPalette = paletteWithWindow(QColor(42, 42, 42), Qt::white);

// A panel filled with the palette's window grey, whose pixels the tests read.
std::unique_ptr<QWidget> panel(const QPalette& palette, QSize size) {
    auto widget = std::make_unique<QWidget>();
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->resize(size);
    return widget;
}

// The grey level of the palette's window with the style's foreground laid over it.
int overWindow(const QPalette& palette, qreal opacity) {
    const int window = palette.color(QPalette::Window).red();
    const int foreground =
        QuotalumeStyle::grey(QuotalumeStyle::Grey::foreground, QuotalumeStyle::isDark(palette))
            .red();
    return int(std::lround(window * (1 - opacity) + foreground * opacity));
}

bool waitFor(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(2000);
    while (!condition() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return condition();
}

TEST(QuotalumeStyleTest, GreysFollowTheAppearanceOfThePalette) {
    using Grey = QuotalumeStyle::Grey;
    ASSERT_FALSE(QuotalumeStyle::isDark(lightPalette));
    ASSERT_TRUE(QuotalumeStyle::isDark(darkPalette));
    const struct {
        Grey grey;
        double light;
        double dark;
    } cases[] = {
        {Grey::background, 0.965, 0.105}, {Grey::foreground, 0.12, 0.94},
        {Grey::surface, 1.0, 0.145},      {Grey::subtleSurface, 0.93, 0.205},
        {Grey::border, 0.855, 0.29},      {Grey::progressTrack, 0.83, 0.31},
    };
    for (const auto& row : cases) {
        for (const auto& [palette, level] :
             {std::pair{lightPalette, row.light}, std::pair{darkPalette, row.dark}}) {
            const QColor color = QuotalumeStyle::grey(row.grey, QuotalumeStyle::isDark(palette));
            EXPECT_EQ(color, QColor::fromRgbF(float(level), float(level), float(level)))
                << int(row.grey) << " " << level;
            EXPECT_EQ(color.alpha(), 255);
        }
    }
}

TEST(SubtleButtonStyleTest, BackgroundShowsOnlyWhileHoveredOrPressedAndEnabled) {
    const struct {
        const char* name;
        bool hovered;
        bool pressed;
        bool enabled;
        qreal opacity;
    } cases[] = {
        {"resting", false, false, true, 0},
        {"hovered", true, false, true, 0.045},
        {"pressed", true, true, true, 0.09},
        // Disabling also releases a pressed button.
        {"disabled, hovered and pressed", true, true, false, 0},
    };
    for (const QPalette& palette : {lightPalette, darkPalette}) {
        for (const auto& row : cases) {
            SCOPED_TRACE(std::string(row.name) + (QuotalumeStyle::isDark(palette) ? ", dark" : ""));
            const auto window = panel(palette, QSize(120, 32));
            auto* button = new QPushButton(QStringLiteral("Go"), window.get());
            SubtleButtonStyle::apply(button);
            button->setGeometry(0, 0, 120, 32);
            button->setAttribute(Qt::WA_UnderMouse, row.hovered);
            button->setDown(row.pressed);
            button->setEnabled(row.enabled);

            // Left of the centred label, inside the rounded corners; the corner stays bare.
            const QImage image = window->grab().toImage();
            EXPECT_NEAR(qRed(image.pixel(10, 16)), overWindow(palette, row.opacity), 1);
            EXPECT_EQ(image.pixelColor(0, 0), palette.color(QPalette::Window));
        }
    }
}

TEST(SubtleHoverTest, HighlightsWhileHoveredAndEnabled) {
    const auto window = panel(lightPalette, QSize(80, 30));
    SubtleHover* hover = SubtleHover::attach(window.get());
    const auto highlight = [&] { return qRed(window->grab().toImage().pixel(40, 15)); };

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(waitFor([&] { return hover->highlightOpacity() == SubtleHover::opacity; }));
    EXPECT_NEAR(highlight(), overWindow(lightPalette, SubtleHover::opacity), 1);

    window->setEnabled(false);
    ASSERT_TRUE(waitFor([&] { return hover->highlightOpacity() == 0; }));
    EXPECT_EQ(highlight(), lightPalette.color(QPalette::Window).red());

    window->setEnabled(true);
    ASSERT_TRUE(waitFor([&] { return hover->highlightOpacity() == SubtleHover::opacity; }));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(window.get(), &leave);
    ASSERT_TRUE(waitFor([&] { return hover->highlightOpacity() == 0; }));
    EXPECT_EQ(highlight(), lightPalette.color(QPalette::Window).red());
}

TEST(BrandAssetsTest, ImagesAndTheLicenceShipWithTheProgram) {
    EXPECT_EQ(BrandAssets::logo().size(), QSize(256, 256));
    ASSERT_FALSE(BrandAssets::githubMark().isNull());
    EXPECT_TRUE(BrandAssets::menuBarIcon().availableSizes().contains(QSize(22, 22)));
    const auto license = BrandAssets::resourcePath(QStringLiteral("LICENSE"));
    ASSERT_TRUE(license.has_value());
    EXPECT_TRUE(LicenseView::licenseText(license).startsWith(QStringLiteral("MIT License\n")));
    EXPECT_FALSE(BrandAssets::resourcePath(QStringLiteral("no-such-file")).has_value());

    // The mark is a template: drawn in the colour it is given, with its own shape.
    const QImage red = BrandAssets::tinted(BrandAssets::githubMark(), Qt::red);
    int opaque = 0;
    for (int y = 0; y < red.height(); ++y) {
        for (int x = 0; x < red.width(); ++x) {
            const QColor pixel = red.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                ++opaque;
                EXPECT_EQ(pixel, QColor(Qt::red));
            }
        }
    }
    EXPECT_GT(opaque, 0);
    EXPECT_EQ(red.pixelColor(0, 0).alpha(), 0);

    // The logo tile: the image inside, the page in the rounded-off corners.
    const auto window = panel(lightPalette, QSize(80, 80));
    auto* logo = new BrandLogo(80, window.get());
    const QImage tile = window->grab().toImage();
    EXPECT_EQ(tile.pixelColor(1, 1), lightPalette.color(QPalette::Window));
    const QRgb inside = tile.pixel(40, 5);
    const QRgb source = BrandAssets::logo().pixel(128, 16);
    EXPECT_NEAR(qRed(inside), qRed(source), 8);
    EXPECT_NEAR(qGreen(inside), qGreen(source), 8);
    EXPECT_NEAR(qBlue(inside), qBlue(source), 8);
    EXPECT_EQ(logo->focusPolicy(), Qt::NoFocus);
}

}  // namespace
}  // namespace quotalume
