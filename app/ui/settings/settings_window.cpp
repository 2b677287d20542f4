#include "settings/settings_window.hpp"

#include "about/about_view.hpp"
#include "about/license_view.hpp"
#include "monitor_bridge.hpp"
#include "settings/general_page.hpp"
#include "settings/notifications_page.hpp"
#include "settings/settings_form.hpp"
#include "settings/source_page.hpp"
#include "settings/webhook_page.hpp"
#include "style/brand_assets.hpp"
#include "style/focus_ring_style.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/combo_box_accessible.hpp"
#include "widgets/segmented_control.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QKeySequence>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quotalume {
namespace {

constexpr std::array<const char*, 5> pageNames = {"general", "notifications", "webhooks", "source",
                                                  "about"};

// Pages taller than the window scroll rather than stretch it.
QScrollArea* scrolling(QWidget* page) {
    auto* area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    // Tab goes from the page tabs straight to the page's first control; the area scrolls to
    // whichever control has focus.
    area->setFocusPolicy(Qt::NoFocus);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    return area;
}

// A window to assistive technologies, named by its title, rather than a plain pane: screen
// readers announce the window they move into.
QAccessibleInterface* settingsWindowAccessible(const QString&, QObject* object) {
    auto* window = qobject_cast<SettingsWindow*>(object);
    return window != nullptr ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

}  // namespace

SettingsWindow::SettingsWindow(MonitorBridge& bridge, QWidget* parent)
    : QWidget(parent, Qt::Window), bridge_(bridge), language_(L10n::language()) {
    setObjectName(QStringLiteral("settings.window"));
    setWindowIcon(BrandAssets::menuBarIcon());
    setMinimumWidth(minimumWidth);
    static const bool accessible = (QAccessible::installFactory(settingsWindowAccessible), true);
    (void)accessible;
    installComboBoxAccessible();
    // Buttons with room for their longest translations. The style sheet carries the focus
    // ring's style to every control inside, present and future.
    setStyleSheet(QStringLiteral("QPushButton { padding: 4px 14px; }"));
    setStyle(FocusRingStyle::shared());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 18);
    layout->setSpacing(12);

    auto* control = new SegmentedControl(this);
    control->setObjectName(QStringLiteral("settings.pages"));
    segments_ = control->group();
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i] =
            control->addSegment(QStringLiteral("settings.page.") + QLatin1String(pageNames[i]));
    }
    layout->addWidget(control, 0, Qt::AlignHCenter);

    stack_ = new QStackedWidget(this);
    general_ = new GeneralPage(bridge_);
    notifications_ = new NotificationsPage(bridge_);
    webhook_ = new WebhookPage(bridge_);
    source_ = new SourcePage(bridge_);
    about_ = new AboutView;
    // The About view keeps its own height; the rest of the page stays empty below it.
    auto* aboutPage = new QWidget;
    auto* aboutLayout = new QVBoxLayout(aboutPage);
    aboutLayout->setContentsMargins(0, 0, 0, 0);
    aboutLayout->addWidget(about_);
    aboutLayout->addStretch();
    for (QWidget* page :
         {static_cast<QWidget*>(general_), static_cast<QWidget*>(notifications_),
          static_cast<QWidget*>(webhook_), static_cast<QWidget*>(source_), aboutPage}) {
        stack_->addWidget(scrolling(page));
    }
    layout->addWidget(stack_, 1);

    connect(segments_, &QButtonGroup::idClicked, this,
            [this](int id) { showPage(static_cast<Page>(id)); });
    connect(&bridge_, &MonitorBridge::changed, this, &SettingsWindow::refresh);
    // Return on a focused push button outside the pages' own scopes.
    SettingsForm::setDefaultButton(this, nullptr);
    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    QuotalumeStyle::applyTheme(this);
    retranslate();
    showPage(Page::general);
}

void SettingsWindow::showPage(Page page) {
    const auto index = static_cast<std::size_t>(page);
    buttons_[index]->setChecked(true);
    stack_->setCurrentIndex(static_cast<int>(index));
    fitToPage();
}

void SettingsWindow::fitToPage() {
    const auto* area = static_cast<QScrollArea*>(stack_->currentWidget());
    const QMargins margins = layout()->contentsMargins();
    const int chrome = margins.top() + margins.bottom() + layout()->spacing() +
                       buttons_[0]->parentWidget()->sizeHint().height();
    int wanted = area->widget()->sizeHint().height() + chrome;
    if (const QScreen* shown = screen()) {
        wanted = std::min(wanted, shown->availableGeometry().height() * 9 / 10);
    }
    resize(std::max(width(), minimumWidth), wanted);
}

SettingsWindow::Page SettingsWindow::pageFor(const Engine& monitor) {
    const auto& others = monitor.otherReadings();
    const auto failed = [](const auto& other) { return other->lastError().has_value(); };
    if (monitor.lastError() || std::any_of(others.begin(), others.end(), failed)) {
        return Page::source;
    }
    const auto warnings = monitor.warnings();
    const bool webhook = std::any_of(warnings.begin(), warnings.end(), [](const auto& warning) {
        return warning.key.starts_with("error.config_") ||
               warning.key.starts_with("error.webhook") || warning.key == "error.https" ||
               warning.key == "error.url" || warning.key == "error.token";
    });
    return webhook ? Page::webhooks : Page::general;
}

SettingsWindow::Page SettingsWindow::page() const {
    return static_cast<Page>(stack_->currentIndex());
}

void SettingsWindow::showEvent(QShowEvent* event) {
    webhook_->load();
    source_->rescan();
    bridge_.monitor().notifier().refreshPermission();
    refresh();
    QWidget::showEvent(event);
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
    // Keys a control takes for itself (an open list's Escape) never get here.
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsWindow::retranslate() {
    setWindowTitle(SettingsForm::text("app.settings_title"));
    buttons_[0]->setText(SettingsForm::text("settings.general"));
    buttons_[1]->setText(SettingsForm::text("settings.notifications"));
    buttons_[2]->setText(QStringLiteral("Webhook"));
    buttons_[3]->setText(SettingsForm::text("settings.source"));
    buttons_[4]->setText(SettingsForm::text("settings.about"));
    general_->retranslate();
    notifications_->retranslate();
    webhook_->retranslate();
    source_->retranslate();
    about_->retranslate();
}

void SettingsWindow::refresh() {
    // A hidden window catches up when it is shown again.
    if (!isVisible()) {
        return;
    }
    if (const AppLanguage current = L10n::language(); current != language_) {
        language_ = current;
        retranslate();
    }
    general_->refresh();
    notifications_->refresh();
    webhook_->refresh();
    source_->refresh();
}

}  // namespace quotalume
