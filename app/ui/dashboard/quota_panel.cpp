#include "dashboard/quota_panel.hpp"

#include "dashboard/dashboard_view.hpp"
#include "dashboard/panel_geometry.hpp"
#include "style/quotalume_style.hpp"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace quotalume {
namespace {

// How long after closing a press on the tray icon still counts as the one that closed it.
constexpr qint64 dismissalEcho = 300;

// A window to screen readers, as a dialog or main window is; a plain widget would be a filler.
QAccessibleInterface* quotaPanelAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(QuotaPanel::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

QuotaPanel::Surface QuotaPanel::platformSurface() {
    return QGuiApplication::platformName().startsWith(QStringLiteral("wayland")) ? Surface::floating
                                                                                 : Surface::placed;
}

QuotaPanel::Session QuotaPanel::platformSession() {
    const bool wayland = qgetenv("XDG_SESSION_TYPE") == "wayland" ||
                         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         platformSurface() == Surface::floating;
    return wayland ? Session::wayland : Session::x11;
}

QuotaPanel::QuotaPanel(MonitorBridge& bridge, std::function<void()> openSettings, QWidget* parent,
                       Surface surface, Session session)
    : QWidget(parent), surface_(surface), session_(session) {
    static const bool accessible = (QAccessible::installFactory(quotaPanelAccessible), true);
    Q_UNUSED(accessible);
    setObjectName(QStringLiteral("quotaPanel"));
    setWindowTitle(QString::fromLatin1(title));
    setMode(false);

    // Settings takes the panel's place; a window stays beside it.
    view_ = new DashboardView(bridge, [this, open = std::move(openSettings)] {
        if (!windowMode_) {
            hide();
        }
        open();
    });
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("dashboardScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    // Not a stop of its own for Tab: the focus goes to the first control, which the area
    // scrolls into view.
    scroll_->setFocusPolicy(Qt::NoFocus);
    // The panel paints the rounded background; the scroll area and the content stay clear.
    scroll_->setAutoFillBackground(false);
    scroll_->viewport()->setAutoFillBackground(false);
    view_->setAutoFillBackground(false);
    // The scroll area would otherwise keep the content at least as tall as its minimum size
    // hint, which lays wrapped text out at its narrowest; the content's real height at the
    // panel's width is its height for that width, as measured.
    view_->setMinimumHeight(1);
    scroll_->setWidget(view_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
    connect(view_, &DashboardView::rendered, this, &QuotaPanel::measure);
    // close(), not hide(): without a tray the window's close tells that the app keeps running.
    connect(view_, &DashboardView::closeRequested, this, &QWidget::close);

    for (QScreen* screen : QGuiApplication::screens()) {
        observeScreen(screen);
    }
    observers_.push_back(connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        observeScreen(s);
        screensChanged();
    }));
    observers_.push_back(
        connect(qApp, &QGuiApplication::screenRemoved, this, &QuotaPanel::screensChanged));
    observers_.push_back(
        connect(qApp, &QGuiApplication::primaryScreenChanged, this, &QuotaPanel::screensChanged));
    measure();
}

QuotaPanel::~QuotaPanel() {
    stopObserving();
}

void QuotaPanel::setMode(bool window) {
    windowMode_ = window;
    if (window) {
        setWindowFlags(Qt::Window);
        setAttribute(Qt::WA_TranslucentBackground, false);
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        return;
    }
    // A tool window, which the window manager or compositor manages and gives the keyboard.
    // Not a popup: Qt leaves popups out of the accessibility tree, on X11 they bypass the
    // window manager (a compositor's bar under Xwayland included), and on Wayland one must
    // hang from a window of ours that has had input, which a click on the desktop's tray
    // never gives.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // Clear corners outside the rounded background (where the desktop composites windows).
    setAttribute(Qt::WA_TranslucentBackground, true);
}

void QuotaPanel::popUp(std::optional<QRect> anchor) {
    view_->catchUp();  // measured before it shows
    if (windowMode_) {
        hide();
        setMode(false);
    }
    anchor_ = anchor;
    // Opened again while shown, no new expose or activation follows: keep what was seen.
    if (isHidden()) {
        exposed_ = false;
        activated_ = false;
        fullHeight_ = 0;  // what it shows may fit in full now
        // Under Xwayland a window shown again is the view the compositor placed once (sway
        // applies its window rules once per view), so each opening gets a new one there.
        if (surface_ == Surface::placed && session_ == Session::wayland &&
            testAttribute(Qt::WA_WState_Created)) {
            destroy();
        }
    }
    place();
    show();
    raise();
    activateWindow();
    if (QWindow* window = windowHandle()) {
        window->removeEventFilter(this);
        window->installEventFilter(this);
    }
}

void QuotaPanel::showAsWindow() {
    view_->catchUp();
    if (!windowMode_) {
        hide();
        setMode(true);
    }
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    resize(static_cast<int>(contentWidth), windowHeight());
    show();
    raise();
    activateWindow();
}

bool QuotaPanel::setContentHeight(double height) {
    if (!std::isfinite(height) || height <= 0 || std::abs(height - measuredHeight_) <= 0.5) {
        return false;
    }
    measuredHeight_ = std::ceil(height);
    if (isVisible() && !windowMode_ && !fitting_) {
        place();
    }
    // A window follows its content while the user has not sized it.
    if (isVisible() && windowMode_ && QWidget::height() == autoHeight_) {
        resize(width(), windowHeight());
    }
    return true;
}

void QuotaPanel::measure() {
    // Refresh every cached size hint: a line that appeared deep inside changes the height now,
    // not after the layouts' deferred passes.
    for (QWidget* widget : view_->findChildren<QWidget*>()) {
        // A widget just added to the shown content is shown on the next turn; it counts now.
        if (widget->isHidden() && !widget->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
            widget->show();
        }
        widget->updateGeometry();
    }
    const int width = static_cast<int>(contentWidth);
    const int height =
        view_->hasHeightForWidth() ? view_->heightForWidth(width) : view_->sizeHint().height();
    if (!view_->compact()) {
        fullHeight_ = height;
    }
    setContentHeight(height);
}

int QuotaPanel::windowHeight() {
    QScreen* screen = PanelGeometry::screenFor(std::nullopt);
    // Room for the window's frame and title, which the desktop adds.
    constexpr int decoration = 48;
    const double room = screen != nullptr ? screen->availableGeometry().height() -
                                                2 * PanelGeometry::margin - decoration
                                          : measuredHeight_;
    fit(room);
    autoHeight_ = static_cast<int>(std::min(measuredHeight_, std::max(room, 1.0)));
    return autoHeight_;
}

void QuotaPanel::fit(double room) {
    fitting_ = true;
    // Full where it fits: tried again once it was measured to fit, or when not known.
    if (view_->compact() && fullHeight_ <= room) {
        view_->setCompact(false);  // measured as it renders
    }
    if (!view_->compact() && measuredHeight_ > room) {
        view_->setCompact(true);
    }
    fitting_ = false;
}

void QuotaPanel::place() {
    QScreen* screen = PanelGeometry::screenFor(anchor_);
    if (screen != nullptr) {
        placeOn(screen->geometry(), screen->availableGeometry());
    }
}

void QuotaPanel::placeOn(const QRect& geometry, const QRect& available) {
    fit(available.height() - 2 * PanelGeometry::margin);
    const QRect frame =
        PanelGeometry::frame(anchor_, geometry, available, contentWidth, measuredHeight_);
    // A scroll bar only when the screen cuts the content: one that showed for a moment while
    // the panel was resized would narrow the content, wrap its text and so keep itself.
    scroll_->setVerticalScrollBarPolicy(frame.height() < measuredHeight_ ? Qt::ScrollBarAsNeeded
                                                                         : Qt::ScrollBarAlwaysOff);
    // A fixed size also makes tiling window managers float it.
    setFixedSize(frame.size());
    // A Wayland client has no position to give. Under Xwayland a screen without a work area
    // (sway publishes none) hides where the bar is: the compositor, or the user's rule,
    // places the panel then.
    const bool known = session_ == Session::x11 || available != geometry;
    if (surface_ == Surface::placed && known) {
        move(frame.topLeft());
    }
}

bool QuotaPanel::recentlyHidden() const {
    return dismissedAt_.isValid() && dismissedAt_.elapsed() < dismissalEcho;
}

void QuotaPanel::stopObserving() {
    for (const QMetaObject::Connection& connection : observers_) {
        disconnect(connection);
    }
    observers_.clear();
    if (QWindow* window = windowHandle()) {
        window->removeEventFilter(this);
    }
}

void QuotaPanel::observeScreen(QScreen* screen) {
    observers_.push_back(
        connect(screen, &QScreen::geometryChanged, this, &QuotaPanel::screensChanged));
    observers_.push_back(
        connect(screen, &QScreen::availableGeometryChanged, this, &QuotaPanel::screensChanged));
}

void QuotaPanel::screensChanged() {
    // On the next turn: Qt finishes updating its list of screens first.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && !windowMode_) {
            place();
        }
    });
}

void QuotaPanel::hideLater(bool outsideClick) {
    QTimer::singleShot(0, this, [this, outsideClick] {
        if (isVisible() && !windowMode_) {
            if (outsideClick) {
                dismissedAt_.start();
            }
            hide();
        }
    });
}

void QuotaPanel::paintEvent(QPaintEvent*) {
    const bool dark = QuotalumeStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor background = QuotalumeStyle::grey(QuotalumeStyle::Grey::background, dark);
    if (windowMode_) {
        painter.fillRect(rect(), background);
        return;
    }
    painter.setPen(QPen(QuotalumeStyle::grey(QuotalumeStyle::Grey::border, dark), 1));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius,
                            cornerRadius);
}

void QuotaPanel::keyPressEvent(QKeyEvent* event) {
    // Escape closes the panel and goes no further; the controls inside leave it to us.
    if (event->key() == Qt::Key_Escape && !windowMode_) {
        event->accept();
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QuotaPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // An outside click on X11: another window took the activation.
    if (event->type() == QEvent::ActivationChange && !windowMode_ && session_ == Session::x11) {
        if (isActiveWindow()) {
            activated_ = true;
        } else if (activated_) {
            activated_ = false;
            hideLater(true);
        }
    }
}

bool QuotaPanel::eventFilter(QObject* watched, QEvent* event) {
    // Qt cannot tell that the user switched to another virtual desktop, and in a Wayland session
    // the activation that the switch moves away keeps the panel open. The switch shows as the
    // panel losing exposure after it was on screen: it closes then.
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        if (windowHandle()->isExposed()) {
            exposed_ = true;
        } else if (exposed_) {
            exposed_ = false;
            hideLater(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quotalume
