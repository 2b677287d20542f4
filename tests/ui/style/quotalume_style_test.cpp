#include "style/quotalume_style.hpp"
#include "about/license_view.hpp"
#include "style/brand_assets.hpp"
#include "style/focus_ring_style.hpp"
#include "test_support.hpp"
#include "widgets/segmented_control.hpp"
#include "widgets/subtle_button.hpp"
#include "widgets/toggle_switch.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

namespace quotalume {
namespace {

const QPalette lightPalette(QColor(239, 239, 239));
const QPalette darkPalette(QColor(42, 42, 42));

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

TEST(SubtleButtonStyleTest, BackgroundShowsOnlyWhileHoveredOrPressedAndEnabled) {
    using S = QStyle;
    const auto opacity = &SubtleButtonStyle::backgroundOpacity;
    EXPECT_EQ(opacity(S::State_Enabled), 0) << "resting";
    EXPECT_LT(opacity(S::State_Enabled | S::State_MouseOver),
              opacity(S::State_Enabled | S::State_MouseOver | S::State_Sunken));
    EXPECT_EQ(opacity(S::State_MouseOver | S::State_Sunken), 0) << "disabled";

    // Painted in the foreground grey of either appearance, inside the rounded corners.
    for (const QPalette& palette : {lightPalette, darkPalette}) {
        SCOPED_TRACE(QuotalumeStyle::isDark(palette) ? "dark" : "light");
        const auto window = panel(palette, QSize(120, 32));
        auto* button = new QPushButton(QStringLiteral("Go"), window.get());
        SubtleButtonStyle::apply(button);
        button->setGeometry(0, 0, 120, 32);
        button->setDown(true);
        // Left of the centred label; the corner stays bare.
        const QImage image = window->grab().toImage();
        EXPECT_NEAR(qRed(image.pixel(10, 16)), overWindow(palette, 0.09), 1);
        EXPECT_EQ(image.pixelColor(0, 0), palette.color(QPalette::Window));
    }
}

// Close to the accent of either appearance: far more blue than red.
bool accentLike(QColor pixel) {
    return pixel.blue() - pixel.red() > 60;
}

// Keyboard focus rings the dashboard's quiet buttons, the switch, a page tab and the settings
// window's standard controls in the foreground grey, never the accent; focus a click gave shows
// nothing until the keyboard is used.
TEST(FocusRingTest, KeyboardFocusRingsEveryControlInTheForegroundGrey) {
    for (const QPalette& palette : {lightPalette, darkPalette}) {
        const bool dark = QuotalumeStyle::isDark(palette);
        const auto window = panel(palette, QSize(700, 60));
        auto* layout = new QHBoxLayout(window.get());
        auto* start = new QWidget(window.get());  // holds focus first
        start->setFocusPolicy(Qt::StrongFocus);
        QAbstractButton* checkAgain = new QToolButton(window.get());
        QAbstractButton* settings = new QPushButton(window.get());
        for (QAbstractButton* button : {checkAgain, settings}) {
            button->setText(QStringLiteral("Settings"));
            SubtleButtonStyle::apply(button);
        }
        auto* toggle = new ToggleSwitch(window.get());
        toggle->setChecked(true);
        auto* tabs = new SegmentedControl(window.get());
        tabs->addSegment(QStringLiteral("tab"))->setText(QStringLiteral("General"));
        tabs->group()->button(0)->setChecked(true);
        // As the settings window holds them: under a style sheet that carries the style, and in
        // the application's (light) palette.
        auto* form = new QWidget(window.get());
        form->setStyleSheet(QStringLiteral("QPushButton { padding: 4px; }"));
        form->setStyle(FocusRingStyle::shared());
        auto* save = new QPushButton(QStringLiteral("Save"), form);
        auto* combo = new QComboBox(form);
        combo->addItem(QStringLiteral("5 minutes"));
        const std::vector<std::pair<const char*, QWidget*>> ours = {
            {"Check Again", checkAgain},
            {"Settings", settings},
            {"switch", toggle},
            {"page tab", tabs->group()->button(0)}};
        std::vector<std::pair<const char*, QWidget*>> controls = ours;
        if (!dark) {
            controls.insert(controls.end(),
                            {{"push button", save},
                             {"combo box", combo},
                             {"text field", new QLineEdit(form)},
                             {"check box", new QCheckBox(QStringLiteral("Sound"), form)}});
        }
        auto* row = new QHBoxLayout(form);
        for (auto [name, control] : controls) {
            (control->parentWidget() == form ? row : layout)->addWidget(control);
        }
        layout->addWidget(form);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(test::eventually([&] {
            QCoreApplication::processEvents();
            return QApplication::focusWidget() == start;
        }));
        for (auto [name, control] : ours) {
            const QImage resting = control->grab().toImage();
            control->setFocus(Qt::MouseFocusReason);
            EXPECT_EQ(control->grab().toImage(), resting) << name << " clicked";
        }
        start->setFocus(Qt::MouseFocusReason);

        const QColor ring = QuotalumeStyle::focusRing(dark);
        ASSERT_FALSE(accentLike(ring));
        for (auto [name, control] : controls) {
            SCOPED_TRACE(testing::Message() << name << (dark ? ", dark" : ""));
            const QImage resting = control->grab().toImage();
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            QApplication::sendEvent(QApplication::focusWidget(), &tab);
            ASSERT_TRUE(control->hasFocus());
            const QImage focused = control->grab().toImage();
            int ringPixels = 0, accentPixels = 0;
            for (int y = 0; y < focused.height(); ++y) {
                for (int x = 0; x < focused.width(); ++x) {
                    const QColor was = resting.pixelColor(x, y);
                    const QColor is = focused.pixelColor(x, y);
                    ringPixels += std::abs(is.red() - ring.red()) <= 24 && is != was;
                    accentPixels += accentLike(is) && !accentLike(was);
                }
            }
            EXPECT_GT(ringPixels, 8) << "a ring in the foreground grey";
            EXPECT_EQ(accentPixels, 0) << "nothing turned to the accent";
        }
    }
}

TEST(SubtleHoverTest, HighlightsWhileHoveredAndEnabled) {
    const auto window = panel(lightPalette, QSize(80, 30));
    SubtleHover* hover = SubtleHover::attach(window.get());
    // Waits for the fade to end at `opacity`, then reads the highlight's grey.
    const auto settlesAt = [&](qreal opacity) {
        EXPECT_TRUE(test::eventually([&] {
            QCoreApplication::processEvents();
            return hover->highlightOpacity() == opacity;
        })) << opacity;
        return qRed(window->grab().toImage().pixel(40, 15));
    };

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(window.get(), &enter);
    EXPECT_NEAR(settlesAt(SubtleHover::opacity), overWindow(lightPalette, SubtleHover::opacity), 1);
    window->setEnabled(false);
    EXPECT_EQ(settlesAt(0), lightPalette.color(QPalette::Window).red());
    window->setEnabled(true);
    settlesAt(SubtleHover::opacity);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(window.get(), &leave);
    EXPECT_EQ(settlesAt(0), lightPalette.color(QPalette::Window).red());
}

TEST(BrandAssetsTest, ImagesAndTheLicenceShipWithTheProgram) {
    EXPECT_TRUE(BrandAssets::menuBarIcon().availableSizes().contains(QSize(22, 22)));
    const auto license = BrandAssets::resourcePath(QStringLiteral("LICENSE"));
    ASSERT_TRUE(license.has_value());
    EXPECT_TRUE(LicenseView::licenseText(license).startsWith(QStringLiteral("MIT License\n")));
    EXPECT_FALSE(BrandAssets::resourcePath(QStringLiteral("no-such-file")).has_value());

    // The mark is a template: drawn in the colour it is given, with its own shape.
    const QImage red = BrandAssets::tinted(BrandAssets::githubMark(), Qt::red);
    int opaque = 0;
    for (int pixel = 0; pixel < red.width() * red.height(); ++pixel) {
        const QColor colour = red.pixelColor(pixel % red.width(), pixel / red.width());
        opaque += colour.alpha() == 255;
        EXPECT_TRUE(colour.alpha() < 255 || colour == QColor(Qt::red)) << pixel;
    }
    EXPECT_GT(opaque, 0);
    EXPECT_EQ(red.pixelColor(0, 0).alpha(), 0);
}

}  // namespace
}  // namespace quotalume
