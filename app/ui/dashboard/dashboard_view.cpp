#include "dashboard/dashboard_view.hpp"

#include "dashboard/bucket_section.hpp"
#include "dashboard/connection_status.hpp"
#include "dashboard/credits_row.hpp"
#include "dashboard/dashboard_card_surface.hpp"
#include "dashboard/limit_notice.hpp"
#include "dashboard/notifications_row.hpp"
#include "dashboard/plan_badge.hpp"
#include "dashboard/quota_card.hpp"
#include "monitor_bridge.hpp"
#include "style/brand_logo.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"
#include "widgets/subtle_button.hpp"

#include <quotalume/l10n/l10n.hpp>

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace quotalume {
namespace {

constexpr int headerLogoSize = 34;
constexpr int padding = 16;
constexpr int buttonIconSize = 14;

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
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(name);
    titles->addWidget(subtitle_);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(new BrandLogo(headerLogoSize, this));
    header->addLayout(titles, 1);
    header->addWidget(badge_, 0, Qt::AlignTop);

    cardsLayout_ = new QVBoxLayout;
    cardsLayout_->setSpacing(8);
    placeholder_ = new DashboardCardSurface(this);
    placeholder_->setObjectName(QStringLiteral("placeholder"));
    placeholderIcon_ = new QLabel(placeholder_);
    placeholderIcon_->setAlignment(Qt::AlignCenter);
    placeholderText_ = new QLabel(placeholder_);
    placeholderText_->setObjectName(QStringLiteral("placeholderText"));
    placeholderText_->setFont(DashboardTypography::body());
    placeholderText_->setForegroundRole(QPalette::PlaceholderText);
    placeholderText_->setAlignment(Qt::AlignCenter);
    placeholderText_->setWordWrap(true);
    auto* placeholderLayout = new QVBoxLayout(placeholder_);
    placeholderLayout->setContentsMargins(14, 22, 14, 22);
    placeholderLayout->addWidget(placeholderIcon_);
    placeholderLayout->addWidget(placeholderText_);
    cardsLayout_->addWidget(placeholder_);
    bucketsLayout_ = new QVBoxLayout;
    bucketsLayout_->setSpacing(6);
    blocked_ = new LimitNotice("blocked", this);
    spend_ = new LimitNotice("spendLimit", this);
    bankedResets_ = new LimitNotice("bankedResets", this);
    credits_ = new CreditsRow(this);

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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, 12);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addWidget(blocked_);
    layout->addLayout(cardsLayout_);
    layout->addLayout(bucketsLayout_);
    layout->addWidget(spend_);
    layout->addWidget(bankedResets_);
    layout->addWidget(credits_);
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
    Engine& monitor = bridge_.monitor();
    const auto& snapshot = monitor.snapshot();
    const std::optional<RateBucket> bucket =
        snapshot ? snapshot->codexBucket() : std::optional<RateBucket>();

    subtitle_->setText(qt(L10n::text("dashboard.subtitle")));
    const bool hasPlan = bucket && bucket->planType && !bucket->planType->empty();
    badge_->setVisible(hasPlan);
    if (hasPlan) {
        badge_->setPlan(*bucket->planType);
    }
    renderQuota(bucket);
    renderOtherBuckets();
    renderLimits(bucket);

    const std::optional<CreditsSnapshot> credits = monitor.reading().credits();
    const bool showCredits = credits && credits->shouldDisplay();
    credits_->setVisible(showCredits);
    if (showCredits) {
        credits_->render(*credits, monitor.reading().stale);
    }
    notifications_->render();
    status_->render();

    const QColor text = palette().color(QPalette::ButtonText);
    settings_->setText(qt(L10n::text("common.settings")));
    settings_->setIcon(dashboardSymbol(DashboardSymbol::settings, text, buttonIconSize));
    quit_->setText(qt(L10n::text("common.quit")));
    quit_->setIcon(dashboardSymbol(DashboardSymbol::power, text, buttonIconSize));
    Q_EMIT rendered();
}

void DashboardView::renderQuota(const std::optional<RateBucket>& bucket) {
    Engine& monitor = bridge_.monitor();
    const EngineReading& reading = monitor.reading();
    const auto& snapshot = reading.snapshot;
    const std::vector<QuotaWindow> windows = reading.visibleWindows();
    bool same = windows.size() == cards_.size();
    for (std::size_t i = 0; same && i < windows.size(); ++i) {
        same = cards_[i]->kind() == windows[i];
    }
    if (!same) {
        for (QuotaCard* card : cards_) {
            delete card;
        }
        cards_.clear();
        for (const QuotaWindow window : windows) {
            auto* card = new QuotaCard(window, this);
            cardsLayout_->insertWidget(static_cast<int>(cards_.size()), card);
            cards_.push_back(card);
        }
    }
    for (QuotaCard* card : cards_) {
        const std::optional<RateWindow> window =
            bucket ? bucket->window(card->kind()) : std::nullopt;
        card->render(window.value_or(RateWindow{}), monitor.now(), reading.stale);
        const auto forecast = reading.forecasts.find(card->kind());
        card->renderForecast(
            window.value_or(RateWindow{}), monitor.now(), monitor.series(card->kind()),
            forecast == reading.forecasts.end() ? std::nullopt : std::optional(forecast->second));
    }

    placeholder_->setVisible(windows.empty());
    if (windows.empty()) {
        const QColor secondary = palette().color(QPalette::PlaceholderText);
        setDashboardSymbol(placeholderIcon_, DashboardSymbol::chart, secondary, 22);
        const bool loading = !snapshot && !reading.error;
        placeholderText_->setText(qt(L10n::text(loading ? "quota.loading" : "quota.empty")));
    }
}

void DashboardView::renderOtherBuckets() {
    Engine& monitor = bridge_.monitor();
    const std::vector<BucketSummary> others = monitor.reading().otherBuckets();
    // Kept while the same buckets come: a section the user opened stays open.
    bool same = others.size() == buckets_.size();
    for (std::size_t i = 0; same && i < others.size(); ++i) {
        same = buckets_[i]->id() == others[i].bucket.id();
    }
    if (!same) {
        for (BucketSection* section : buckets_) {
            delete section;
        }
        buckets_.clear();
        for (std::size_t i = 0; i < others.size(); ++i) {
            buckets_.push_back(new BucketSection(this));
            bucketsLayout_->addWidget(buckets_.back());
        }
    }
    for (std::size_t i = 0; i < others.size(); ++i) {
        buckets_[i]->render(others[i], monitor.now(), monitor.reading().stale);
    }
}

void DashboardView::renderLimits(const std::optional<RateBucket>& bucket) {
    Engine& monitor = bridge_.monitor();
    const bool dark = QuotalumeStyle::isDark(palette());
    const QColor text = palette().color(QPalette::WindowText);
    const QColor secondary = palette().color(QPalette::PlaceholderText);

    const std::optional<BlockedState> blocked = monitor.reading().blocked();
    blocked_->setVisible(blocked.has_value());
    if (blocked) {
        blocked_->render(DashboardSymbol::alertCircle, CapsuleBar::fillColor(0, dark),
                         qt(blocked->text(monitor.now())));
    }

    const std::optional<SpendControlLimit> limit = bucket ? bucket->individualLimit : std::nullopt;
    spend_->setVisible(limit && (limit->remainingPercent || limit->used));
    if (spend_->isVisibleTo(this)) {
        std::string caption;
        if (limit->used && limit->limit) {
            caption = L10n::text("spend.used", *limit->used, *limit->limit);
        }
        if (const std::optional<Date> reset = limit->resetDate()) {
            caption += (caption.empty() ? "" : " \u00b7 ") + L10n::countdown(reset, monitor.now());
        }
        const std::string value =
            limit->remainingPercent
                ? L10n::text("spend.remaining",
                             std::to_string(static_cast<long long>(
                                 std::floor(std::clamp(*limit->remainingPercent, 0.0, 100.0)))))
                : std::string();
        spend_->render(
            DashboardSymbol::grid,
            bucket->spendControlReached.value_or(false) ? CapsuleBar::fillColor(0, dark) : text,
            qt(L10n::text("spend.title")), qt(caption), qt(value));
    }

    const auto& snapshot = monitor.snapshot();
    const std::optional<ResetCreditsSummary> banked =
        snapshot ? snapshot->resetCredits : std::nullopt;
    bankedResets_->setVisible(banked && banked->availableCount > 0);
    if (bankedResets_->isVisibleTo(this)) {
        const std::string count = std::to_string(banked->availableCount);
        const std::optional<ResetCredit> next = banked->nextExpiring();
        const std::string line =
            next ? L10n::text(
                       "credits.banked_resets_expiring", count,
                       L10n::date(*next->expiryDate(), DateStyle::mediumStyle, DateStyle::none))
                 : L10n::text("credits.banked_resets", count);
        bankedResets_->render(DashboardSymbol::refresh, secondary, qt(line));
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
