#pragma once

#include <QElapsedTimer>
#include <QMetaObject>
#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QScrollArea;
class QScreen;

namespace quotalume {

class DashboardView;
class MonitorBridge;

// The frameless panel that holds the dashboard: as wide as the content is designed for, as
// tall as the content measures (up to the screen), placed under the tray icon where the desktop
// lets it, and closed by Escape, its close button, opening Settings, a change of virtual
// desktop and, on X11, a click outside it. A tool window the desktop manages everywhere: never
// a popup, which screen readers do not see and an X11 window manager cannot place.
class QuotaPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr double contentWidth = 372;
    static constexpr double initialHeight = 540;
    static constexpr qreal cornerRadius = 16;
    // The same in every language, so that one compositor rule finds the panel.
    static constexpr const char* title = "Quotalume";

    // How the panel reaches the screen. X11 lets it place itself under the tray icon; a
    // Wayland client has no global position, so there it is a window of fixed size, which
    // tiling compositors float, and the compositor (or the user's rule) places it.
    enum class Surface { placed, floating };
    static Surface platformSurface();
    // The desktop session. On X11 a click elsewhere takes the activation from the panel, which
    // closes it then. In a Wayland session (Xwayland included) the pointer crossing a window
    // does that too under focus-follows-mouse, and a client cannot tell the two apart: there
    // losing the activation keeps it open. Xwayland's screens may also lack the work area,
    // and a position taken from them would cover the compositor's bar.
    enum class Session { x11, wayland };
    static Session platformSession();

    QuotaPanel(MonitorBridge& bridge, std::function<void()> openSettings, QWidget* parent = nullptr,
               Surface surface = platformSurface(), Session session = platformSession());
    ~QuotaPanel() override;

    DashboardView* view() const { return view_; }
    double measuredHeight() const { return measuredHeight_; }
    bool isWindowMode() const { return windowMode_; }

    // Shows the panel placed for `anchor` (nothing: the top right of the cursor's screen).
    void popUp(std::optional<QRect> anchor);
    // An ordinary window, for desktops without a tray.
    void showAsWindow();
    // Takes a new content height; false (and nothing moves) for values that are not finite and
    // positive or differ by 0.5 or less from the current one.
    bool setContentHeight(double height);
    // Measures the content and takes its height.
    void measure();
    // Placed again for the last anchor on the screens as they are now.
    void place();
    // Placed for the last anchor on a screen of `geometry` with `available` room, the content
    // compact where the full layout is taller than that room.
    void placeOn(const QRect& geometry, const QRect& available);
    // Whether a click outside closed the panel a moment ago: that click may be on its way to
    // the tray icon, which must not open it again at once.
    bool recentlyHidden() const;
    // Drops the screen and desktop observers; the panel stays usable but no longer follows.
    void stopObserving();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setMode(bool window);
    void observeScreen(QScreen* screen);
    void screensChanged();
    // On the next turn; `outsideClick` marks it as the close that a tray click may echo.
    void hideLater(bool outsideClick);
    // The layout for `room` in height: full where it fits, else compact.
    void fit(double room);
    // The window mode's height: the content's, fitted to the screen.
    int windowHeight();

    Surface surface_;
    Session session_;
    DashboardView* view_;
    QScrollArea* scroll_;
    std::optional<QRect> anchor_;
    double measuredHeight_ = initialHeight;
    // The full layout's height when last measured; 0 when unknown (not measured since shown).
    double fullHeight_ = 0;
    bool fitting_ = false;
    int autoHeight_ = -1;  // the window's height as last sized to its content
    bool windowMode_ = false;
    bool exposed_ = false;
    bool activated_ = false;
    QElapsedTimer dismissedAt_;
    std::vector<QMetaObject::Connection> observers_;
};

}  // namespace quotalume
