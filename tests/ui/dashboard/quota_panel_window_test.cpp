#include "dashboard/dashboard_panel_controller.hpp"
#include "dashboard/panel_geometry.hpp"
#include "dashboard/quota_panel.hpp"
#include "monitor_harness.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>

#include <functional>

namespace quotalume {
namespace {

using test::find;
using PanelSession = QuotaPanel::Session;
using PanelSurface = QuotaPanel::Surface;

// Another window of ours takes the activation, as a click on any other window would.
void activateElsewhere(QWidget& other) {
    other.show();
    other.activateWindow();
    QApplication::processEvents();  // the activation
    QApplication::processEvents();  // what the panel deferred on losing it
}

QAccessibleInterface* accessibleWindow(const QWidget& window) {
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    for (int i = 0; i < application->childCount(); ++i) {
        if (application->child(i)->object() == &window) {
            return application->child(i);
        }
    }
    return nullptr;
}

const struct {
    const char* name;
    PanelSurface surface;
    PanelSession session;
} panelDesktops[] = {
    {"X11", PanelSurface::placed, PanelSession::x11},
    {"Xwayland", PanelSurface::placed, PanelSession::wayland},
    {"Wayland", PanelSurface::floating, PanelSession::wayland},
};

TEST(QuotaPanelWindowTest, AToolWindowTheDesktopManagesAndScreenReadersSee) {
    test::MonitorHarness harness;
    for (const auto& desktop : panelDesktops) {
        SCOPED_TRACE(desktop.name);
        QuotaPanel panel(
            *harness.bridge, [] {}, nullptr, desktop.surface, desktop.session);
        EXPECT_EQ(accessibleWindow(panel), nullptr) << "not before it opens";
        panel.popUp(std::nullopt);
        EXPECT_EQ(panel.windowType(), Qt::Tool);
        EXPECT_TRUE(panel.windowFlags() & Qt::FramelessWindowHint);
        EXPECT_FALSE(panel.windowFlags() & Qt::BypassWindowManagerHint);
        const QAccessibleInterface* window = accessibleWindow(panel);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->role(), QAccessible::Window);
        EXPECT_EQ(window->text(QAccessible::Name), "Quotalume");
        // Where the compositor places an X11 window only once, each opening is a new one.
        const WId first = panel.winId();
        panel.hide();
        panel.popUp(std::nullopt);
        EXPECT_EQ(panel.winId() != first, desktop.surface == PanelSurface::placed &&
                                              desktop.session == PanelSession::wayland);
    }
}

// Under Xwayland a screen without a work area (sway's) hides where the bar is, and a Wayland
// client has no position at all: the panel then leaves its place to the compositor.
TEST(QuotaPanelWindowTest, ItTakesAPlaceOnlyWhereItKnowsWhereTheBarIs) {
    test::MonitorHarness harness;
    const QRect screen(0, 0, 1000, 700);
    const QRect underBar(0, 30, 1000, 670);
    const struct {
        const char* name;
        int desktop;
        QRect available;
        bool placed;
    } rows[] = {
        {"X11 with a bar", 0, underBar, true},
        {"X11 without a work area", 0, screen, true},
        {"Xwayland with a bar", 1, underBar, true},
        {"Xwayland without a work area", 1, screen, false},
        {"Wayland", 2, underBar, false},
    };
    for (const auto& row : rows) {
        const auto& desktop = panelDesktops[row.desktop];
        QuotaPanel panel(
            *harness.bridge, [] {}, nullptr, desktop.surface, desktop.session);
        panel.placeOn(screen, row.available);
        const QRect frame = PanelGeometry::frame(std::nullopt, screen, row.available,
                                                 QuotaPanel::contentWidth, panel.measuredHeight());
        EXPECT_EQ(panel.maximumSize(), frame.size()) << row.name;
        EXPECT_EQ(panel.minimumSize(), frame.size()) << row.name;
        EXPECT_EQ(panel.testAttribute(Qt::WA_Moved), row.placed) << row.name;
        if (row.placed) {
            EXPECT_EQ(panel.geometry(), frame) << row.name;
        }
    }
}

TEST(QuotaPanelWindowTest, WhatClosesIt) {
    test::MonitorHarness harness;
    QWidget elsewhere;
    const auto key = [](Qt::Key which) {
        return [which](QuotaPanel& panel) {
            QKeyEvent event(QEvent::KeyPress, which, Qt::NoModifier);
            QApplication::sendEvent(find(panel, "refresh"), &event);
            EXPECT_TRUE(which != Qt::Key_Escape || event.isAccepted()) << "Escape is taken";
        };
    };
    const auto click = [](const char* button) {
        return [button](QuotaPanel& panel) { find<QAbstractButton>(panel, button)->click(); };
    };
    const auto away = [&](QuotaPanel&) { activateElsewhere(elsewhere); };
    const struct {
        const char* name;
        int desktop;
        std::function<void(QuotaPanel&)> act;
        bool closes;
        // The click that closed it may reach the tray icon next, which must not reopen it.
        bool echoes = false;
        int settingsOpened = 0;
    } rows[] = {
        {"Escape", 2, key(Qt::Key_Escape), true},
        {"another key", 0, key(Qt::Key_Tab), false},
        {"its close button", 1, click("close"), true},
        {"opening Settings", 0, click("settings"), true, false, 1},
        {"a click elsewhere on X11", 0, away, true, true},
        // Where the pointer crossing a window moves the activation as well.
        {"losing the activation under Xwayland", 1, away, false},
        {"losing the activation on Wayland", 2, away, false},
    };
    for (const auto& row : rows) {
        const auto& desktop = panelDesktops[row.desktop];
        int settingsOpened = 0;
        QuotaPanel panel(
            *harness.bridge, [&] { ++settingsOpened; }, nullptr, desktop.surface, desktop.session);
        panel.popUp(std::nullopt);
        QApplication::processEvents();
        ASSERT_TRUE(panel.isActiveWindow()) << row.name;
        row.act(panel);
        QApplication::processEvents();
        EXPECT_EQ(panel.isVisible(), !row.closes) << row.name;
        EXPECT_EQ(panel.recentlyHidden(), row.echoes) << row.name;
        EXPECT_EQ(settingsOpened, row.settingsOpened) << row.name;
    }
}

TEST(QuotaPanelWindowTest, TheTrayIconOpensAndClosesItButNeverEchoesAClickThatClosedIt) {
    test::MonitorHarness harness;
    QWidget elsewhere;
    for (const PanelSession session : {PanelSession::x11, PanelSession::wayland}) {
        const bool x11 = session == PanelSession::x11;
        DashboardPanelController controller(
            *harness.bridge, [] {}, nullptr, session);
        controller.toggle(std::nullopt);
        QApplication::processEvents();
        ASSERT_TRUE(controller.isVisible());
        activateElsewhere(elsewhere);  // on X11 the press on the icon, before its activation
        EXPECT_EQ(controller.isVisible(), !x11);
        controller.toggle(std::nullopt);  // X11: that activation; Wayland: a second click
        EXPECT_FALSE(controller.isVisible()) << x11;
        if (!x11) {
            controller.toggle(std::nullopt);
            EXPECT_TRUE(controller.isVisible()) << "closed by a click on the icon, it reopens";
        }

        // Without a tray: an ordinary window, which stop() closes.
        controller.showAsWindow();
        EXPECT_TRUE(controller.isVisible());
        EXPECT_TRUE(controller.panel()->isWindow());
        activateElsewhere(elsewhere);
        EXPECT_TRUE(controller.isVisible()) << x11;
        controller.stop();
        EXPECT_FALSE(controller.isVisible());
    }
}

}  // namespace
}  // namespace quotalume
