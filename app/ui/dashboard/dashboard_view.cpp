#include "dashboard/dashboard_view.hpp"

#include "dashboard/connection_status.hpp"
#include "dashboard/notifications_row.hpp"
#include "dashboard/plan_badge.hpp"
#include "dashboard/source_section.hpp"
#include "monitor_bridge.hpp"
#include "style/brand_logo.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "widgets/leading_alignment.hpp"
#include "widgets/subtle_button.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quotalume {
namespace {

constexpr int headerLogoSize = 34;
constexpr int padding = 16;
constexpr int compactPadding = 12;
constexpr int buttonIconSize = 14;
constexpr int closeIconSize = 10;
constexpr int sourceSpacing = 14;  // between sources' sections, a little more than within one

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Midlight);
    return line;
}

QPushButton* footerButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(DashboardTypography::action());
    button->setIconSize(QSize(buttonIconSize, buttonIconSize));
    button->setCursor(Qt::PointingHandCursor);
    SubtleButtonStyle::apply(button);
    return button;
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// The widgets `layout` places, in its order: top to bottom and along each row.
void laidOut(QLayout* layout, QWidgetList& widgets) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() != nullptr) {
            widgets << item->widget();
        } else if (item->layout() != nullptr) {
            laidOut(item->layout(), widgets);
        }
    }
}

// Puts the children of `widget` in the order its layout reads them, which is the order a screen
// reader walks them in, and collects the controls among them and further in, in that order. A
// control's own inside is left as it is (a card's labels take no focus).
void orderForReading(QWidget* widget, QWidgetList& controls) {
    if (widget->layout() == nullptr) {
        return;
    }
    QWidgetList children;
    laidOut(widget->layout(), children);
    bool ordered = true;
    for (qsizetype i = 1; ordered && i < children.size(); ++i) {
        ordered =
            widget->children().indexOf(children[i - 1]) < widget->children().indexOf(children[i]);
    }
    for (QWidget* child : children) {
        if (!ordered) {
            child->raise();  // to the end of the list; siblings here never overlap
        }
        if (child->focusPolicy() & Qt::TabFocus) {
            controls << child;
        } else {
            orderForReading(child, controls);
        }
    }
}

}  // namespace

DashboardView::DashboardView(MonitorBridge& bridge, std::function<void()> openSettings,
                             QWidget* parent)
    : QWidget(parent), bridge_(bridge) {
    setObjectName(QStringLiteral("dashboard"));
    Engine& monitor = bridge.monitor();

    auto* name = new QLabel(QStringLiteral("Quotalume"), this);
    name->setFont(DashboardTypography::brand());
    subtitle_ = new QLabel(this);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    subtitle_->setFont(DashboardTypography::caption());
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    subtitle_->setWordWrap(true);
    badge_ = new PlanBadge(this);
    badge_->setObjectName(QStringLiteral("planBadge"));
    close_ = new QToolButton(this);
    close_->setObjectName(QStringLiteral("close"));
    close_->setAutoRaise(true);
    close_->setIconSize(QSize(closeIconSize, closeIconSize));
    close_->setFixedSize(22, 22);
    close_->setFocusPolicy(Qt::TabFocus);
    close_->setCursor(Qt::PointingHandCursor);
    SubtleButtonStyle::apply(close_);
    connect(close_, &QToolButton::clicked, this, &DashboardView::closeRequested);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(name);
    titles->addWidget(subtitle_);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(new BrandLogo(headerLogoSize, this));
    header->addLayout(titles, 1);
    header->addWidget(badge_, 0, Qt::AlignTop);
    header->addWidget(close_, 0, Qt::AlignTop);

    sourcesLayout_ = new QVBoxLayout;
    sourcesLayout_->setSpacing(sourceSpacing);

    notifications_ = new NotificationsRow(monitor, this);
    status_ = new ConnectionStatus(monitor, this);

    settings_ = footerButton(this, "settings");
    settings_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings_, &QPushButton::clicked, this,
            [openSettings = std::move(openSettings)] { openSettings(); });
    // The application object stops the dashboard and the monitor when its loop ends.
    quit_ = footerButton(this, "quit");
    connect(quit_, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    auto* footer = new QHBoxLayout;
    footer->addWidget(settings_);
    footer->addStretch();
    footer->addWidget(quit_);

    auto* layout = layout_ = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, 12);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addLayout(sourcesLayout_);
    layout->addWidget(divider(this));
    layout->addWidget(notifications_);
    layout->addWidget(divider(this));
    layout->addWidget(status_);
    layout->addWidget(divider(this));
    layout->addLayout(footer);
    layout->addStretch();  // a taller panel than the content leaves the room below it

    connect(&bridge, &MonitorBridge::changed, this, [this] {
        if (isVisible()) {
            render();
        } else {
            outdated_ = true;
        }
    });
    render();
}

void DashboardView::catchUp() {
    if (outdated_) {
        render();
    }
}

void DashboardView::setCompact(bool compact) {
    if (compact == compact_) {
        return;
    }
    compact_ = compact;
    subtitle_->setVisible(!compact);
    notifications_->setCompact(compact);
    const int edge = compact ? compactPadding : padding;
    layout_->setContentsMargins(edge, edge, edge, compact ? 8 : 12);
    layout_->setSpacing(compact ? 8 : 12);
    for (SourceSection* section : sections_) {
        delete section;  // built again at the new density
    }
    sections_.clear();
    render();
}

void DashboardView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Countdowns and "updated" times move only while someone can see them.
    bridge_.monitor().showClock(true);
    // The dashboard shows the banked resets: read them, unless that was just done.
    bridge_.monitor().viewOpened();
    catchUp();
}

void DashboardView::hideEvent(QHideEvent* event) {
    bridge_.monitor().showClock(false);
    QWidget::hideEvent(event);
}

void DashboardView::render() {
    outdated_ = false;
    const EngineReading& reading = bridge_.monitor().reading();
    subtitle_->setText(qt(L10n::text("dashboard.subtitle")));
    const std::optional<RateBucket> bucket =
        reading.snapshot ? reading.snapshot->codexBucket() : std::nullopt;
    const bool hasPlan =
        reading.accounts.empty() && bucket && bucket->planType && !bucket->planType->empty();
    badge_->setVisible(hasPlan);
    if (hasPlan) {
        badge_->setPlan(*bucket->planType);
    }
    renderSources();
    notifications_->render();
    status_->render();

    const QString close = qt(L10n::text("common.close"));
    close_->setToolTip(close);
    close_->setAccessibleName(close);
    close_->setIcon(dashboardSymbol(DashboardSymbol::close,
                                    palette().color(QPalette::PlaceholderText), closeIconSize));

    const QColor text = palette().color(QPalette::ButtonText);
    settings_->setText(qt(L10n::text("common.settings")));
    settings_->setIcon(dashboardSymbol(DashboardSymbol::settings, text, buttonIconSize));
    quit_->setText(qt(L10n::text("common.quit")));
    quit_->setIcon(dashboardSymbol(DashboardSymbol::power, text, buttonIconSize));
    orderForReading();
    // Texts stand on the leading side, the right in a right-to-left layout, whatever their
    // script; labels made for new sections and cards included.
    alignLabelsToLayout(this);
    Q_EMIT rendered();
}

// Tab and a screen reader follow the order of reading. Qt's own order is that of creation, and
// sections, cards and buckets are made after the footer whenever the sources or their windows
// change.
void DashboardView::orderForReading() {
    QWidgetList controls;
    quotalume::orderForReading(this, controls);
    for (qsizetype i = 1; i < controls.size(); ++i) {
        setTabOrder(controls[i - 1], controls[i]);
    }
}

void DashboardView::renderSources() {
    Engine& monitor = bridge_.monitor();
    const std::vector<const EngineReading*> sources = monitor.reading().sources();
    const bool several = sources.size() > 1;
    // Kept while the same sources come, in the same order: a bucket the user opened stays open.
    bool same = sections_.size() == sources.size();
    for (std::size_t i = 0; same && i < sources.size(); ++i) {
        same = sections_[i]->label() == sources[i]->label;
    }
    if (!same) {
        for (SourceSection* section : sections_) {
            delete section;
        }
        sections_.clear();
        for (std::size_t i = 0; i < sources.size(); ++i) {
            auto* section = new SourceSection(monitor, several, compact_, this);
            section->setObjectName(QStringLiteral("source.%1").arg(i));
            sourcesLayout_->addWidget(section);
            sections_.push_back(section);
        }
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        sections_[i]->render(*sources[i]);
    }
}

void DashboardView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Symbols are drawn in palette colours; a change of appearance redraws them, once the
    // children have the new palette too.
    if (event->type() == QEvent::PaletteChange) {
        QMetaObject::invokeMethod(this, &DashboardView::render, Qt::QueuedConnection);
    }
}

}  // namespace quotalume
