#include "dashboard/quota_card.hpp"

#include "dashboard/usage_chart.hpp"
#include "style/dashboard_symbol.hpp"
#include "style/dashboard_typography.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/presentation/quota_text.hpp>
#include <quotalume/usage/limit_state.hpp>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace quotalume {
namespace {

constexpr int symbolSize = 12;
constexpr qreal compactValueSize = 22;
// Small enough that "Resets in 4 h 59 min" and "Almost used up" keep to one line in half the
// panel's width.
constexpr qreal compactTextSize = 10.5;
constexpr qreal tightTitleSize = 11.5;
constexpr int compactChartHeight = 34;
constexpr int tightChartHeight = 26;  // the plot a few pixels tall, its labels still legible

QString cardText(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* label(QWidget* parent, const char* name, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    return label;
}

void setText(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
    }
}

// The words of "quota.left" before and after its figure: "40% left", "残り40%".
std::pair<QString, QString> aroundFigure() {
    const QString marked = cardText(shareLeft("\x01"));
    const qsizetype at = marked.indexOf(QLatin1Char('\x01'));
    if (at < 0) {
        return {QString(), marked.trimmed()};
    }
    return {marked.left(at).trimmed(), marked.mid(at + 1).trimmed()};
}

}  // namespace

QuotaCard::QuotaCard(QuotaWindow kind, Density density, QWidget* parent)
    : DashboardCardSurface(parent, Reading::asOne), kind_(kind), density_(density) {
    setObjectName(QStringLiteral("quotaCard.") + QString::fromLatin1(apiName(kind)));
    // Reached by Tab, so that a screen reader says each window's figure in turn.
    setFocusPolicy(Qt::TabFocus);
    const bool compact = density != Density::full;
    QFont warningFont = DashboardTypography::caption();
    warningFont.setPointSizeF(compact ? compactTextSize : 12);
    warningFont.setWeight(QFont::DemiBold);
    QFont valueFont = DashboardTypography::value();
    QFont countdownFont = DashboardTypography::body();
    if (compact) {
        valueFont.setPointSizeF(compactValueSize);
        countdownFont = DashboardTypography::caption();
        countdownFont.setPointSizeF(compactTextSize);
    }

    title_ = label(this, "title", DashboardTypography::title());
    stale_ = label(this, "stale", DashboardTypography::caption());
    stale_->setForegroundRole(QPalette::PlaceholderText);
    warningIcon_ = label(this, "warningIcon", warningFont);
    warning_ = label(this, "warning", warningFont);
    percentage_ = label(this, "percentage", valueFont);
    percentage_->setAlignment(compact ? Qt::AlignLeft | Qt::AlignVCenter
                                      : Qt::AlignRight | Qt::AlignVCenter);
    leftBefore_ = label(this, "leftBefore", DashboardTypography::caption());
    leftAfter_ = label(this, "leftAfter", DashboardTypography::caption());
    for (QLabel* caption : {leftBefore_, leftAfter_}) {
        caption->setForegroundRole(QPalette::PlaceholderText);
    }
    bar_ = new CapsuleBar(this);
    bar_->setObjectName(QStringLiteral("bar"));
    resetIcon_ = label(this, "resetIcon", countdownFont);
    countdown_ = label(this, "countdown", countdownFont);
    chart_ = new UsageChart(this);
    chart_->hide();
    forecast_ = label(this, "forecast", DashboardTypography::caption());
    forecast_->setForegroundRole(QPalette::PlaceholderText);
    forecast_->hide();
    // Long words in some languages wrap rather than widen the panel.
    for (QLabel* text : {title_, warning_, countdown_, forecast_}) {
        text->setWordWrap(true);
    }
    if (compact) {
        layOutCompact();
    } else {
        layOutFull();
    }
}

void QuotaCard::layOutFull() {
    auto* heading = new QVBoxLayout;
    heading->setSpacing(2);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(title_);
    titleRow->addWidget(stale_);
    titleRow->addStretch();
    auto* warningRow = new QHBoxLayout;
    warningRow->setSpacing(4);
    warningRow->addWidget(warningIcon_);
    warningRow->addWidget(warning_);
    warningRow->addStretch();
    heading->addLayout(titleRow);
    heading->addLayout(warningRow);

    auto* top = new QHBoxLayout;
    top->addLayout(heading, 1);
    top->addLayout(figureRow());

    auto* footer = new QHBoxLayout;
    footer->setSpacing(5);
    footer->addWidget(resetIcon_);
    footer->addWidget(countdown_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addLayout(top);
    layout->addWidget(bar_);
    layout->addLayout(footer);
    layout->addWidget(chart_);
    layout->addWidget(forecast_);
}

// The figure with its caption, set on the figure's baseline.
QLayout* QuotaCard::figureRow() {
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    const int below =
        QFontMetrics(percentage_->font()).descent() - QFontMetrics(leftAfter_->font()).descent();
    for (QLabel* caption : {leftBefore_, leftAfter_}) {
        caption->setContentsMargins(0, 0, 0, std::max(below, 0));
    }
    row->addWidget(leftBefore_, 0, Qt::AlignBottom);
    row->addWidget(percentage_, 0, Qt::AlignBottom);
    row->addWidget(leftAfter_, 0, Qt::AlignBottom);
    if (density_ != Density::full) {
        row->addStretch();
    }
    return row;
}

// Half the panel's width: the percentage under the title, the countdown without its symbol and
// a lower chart, so that a card takes few lines. Texts wrap, or are cut where a word cannot,
// rather than widen the panel.
void QuotaCard::layOutCompact() {
    resetIcon_->hide();
    chart_->setFixedHeight(density_ == Density::tight ? tightChartHeight : compactChartHeight);
    for (QLabel* text : {title_, warning_, countdown_, forecast_}) {
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(title_, 1);
    if (density_ == Density::compact) {
        titleRow->addWidget(stale_);
    }
    auto* warningRow = new QHBoxLayout;
    warningRow->setSpacing(4);
    warningRow->addWidget(warningIcon_);
    warningRow->addWidget(warning_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 9);
    layout->setSpacing(4);
    layout->addLayout(titleRow);
    layout->addLayout(warningRow);
    layout->addLayout(figureRow());
    layout->addWidget(bar_);
    layout->addWidget(countdown_);
    layout->addWidget(chart_);
    layout->addWidget(forecast_);
    layout->addStretch();  // beside a taller card, the figures stay at the top
}

void QuotaCard::renderForecast(const RateWindow& window, Date now, std::vector<UsagePoint> readings,
                               const std::optional<UsageForecast>& forecast) {
    const std::optional<Date> reset = window.resetDate();
    const bool drawn = reset && UsageChart::drawable(readings);
    chart_->setVisible(drawn);
    if (drawn) {
        const std::optional<double> rate = UsageForecast::rate(readings, *reset, now);
        chart_->setReadings(std::move(readings), *reset - std::chrono::minutes(minutes(kind_)),
                            *reset, rate, now);
    }
    // A window that already ran out says so above the cards; "runs out" at a past time would not.
    const bool ahead = forecast && (!forecast->runsOutAt || *forecast->runsOutAt > now);
    const QString sentence =
        reset && ahead ? cardText(forecastText(*forecast, *reset, now)) : QString();
    // Full, the sentence stands under the chart as it always has; compact, the chart says it.
    const QString onChart = density_ != Density::full ? sentence : QString();
    chart_->setToolTip(onChart);
    chart_->setAccessibleDescription(onChart);
    // Compact, a window that lasts until its reset leaves that to the chart's tooltip: only one
    // forecast to run out takes the lines. Tight, every forecast does.
    const bool said = !sentence.isEmpty() && density_ != Density::tight &&
                      (density_ == Density::full || forecast->runsOutAt.has_value());
    forecast_->setVisible(said);
    if (said) {
        setText(forecast_, sentence);
    }
    forecastSaid_ = sentence;
    describe();
}

void QuotaCard::render(const RateWindow& window, Date now, bool stale) {
    const bool dark = QuotalumeStyle::isDark(palette());
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    const QString heading = cardText(title(kind_));
    QFont titleFont = DashboardTypography::title();
    if (density_ == Density::tight) {
        titleFont.setPointSizeF(tightTitleSize);  // "5-hour limit" and "Outdated" on one line
    }
    title_->setFont(DashboardTypography::oneWeight(titleFont, heading));
    setText(title_, heading);
    setText(stale_, cardText(L10n::text("quota.stale")));
    // Tight, the source's heading or the connection status says the figures are outdated.
    stale_->setVisible(stale && density_ != Density::tight);

    const RemainingLevel level = remainingLevel(window);
    const std::optional<std::string> word = warningText(window);
    warningIcon_->setVisible(word.has_value());
    warning_->setVisible(word.has_value());
    if (word) {
        // The word in orange rather than the bar's yellow, which is hard to read on white.
        const QColor colour = level == RemainingLevel::critical ? CapsuleBar::fillColor(0, dark)
                                                                : QuotalumeStyle::warning(dark);
        const DashboardSymbol symbol = level == RemainingLevel::critical
                                           ? DashboardSymbol::alertCircle
                                           : DashboardSymbol::noticeCircle;
        setDashboardSymbol(warningIcon_, symbol, colour, symbolSize);
        setText(warning_, cardText(*word));
        QPalette wordPalette = warning_->palette();
        wordPalette.setColor(QPalette::WindowText, colour);
        warning_->setPalette(wordPalette);
        warningIcon_->setToolTip(cardText(*word));
    }

    setText(percentage_, cardText(window.percentageText()));
    const auto [before, after] = aroundFigure();
    setText(leftBefore_, before);
    setText(leftAfter_, after);
    // An unknown figure ("—") is not a share left of anything.
    const bool known = window.remainingPercent().has_value();
    leftBefore_->setVisible(known && !before.isEmpty());
    leftAfter_->setVisible(known && !after.isEmpty());
    bar_->setRemaining(window.remainingPercent());

    setDashboardSymbol(resetIcon_, DashboardSymbol::refresh, secondary, symbolSize);
    const std::optional<Date> reset = window.resetDate();
    setText(countdown_, cardText(L10n::countdown(reset, now)));
    const QString when =
        reset ? cardText(L10n::date(*reset, DateStyle::fullStyle, DateStyle::mediumStyle))
              : cardText(L10n::text("quota.reset_unknown"));
    countdown_->setToolTip(when);
    resetIcon_->setToolTip(when);
    // Said as the card prints it: the same rounding, without the sign the words replace.
    QString figure = cardText(window.percentageText());
    if (figure.endsWith(QLatin1Char('%'))) {
        figure.chop(1);
    }
    const std::string name =
        !window.remainingPercent() ? title(kind_)
        : reset ? L10n::text("card.accessible_name", title(kind_), figure.toStdString(),
                             momentText(*reset, now))
                : L10n::text("card.accessible_name_no_reset", title(kind_), figure.toStdString());
    setAccessibleName(cardText(name));
    state_ = {word ? cardText(*word) : QString(), stale ? stale_->text() : QString(),
              countdown_->text()};
    describe();
}

// What the name leaves out: the warning, the outdated tag, the countdown and the forecast,
// shown under the chart or told by it.
void QuotaCard::describe() {
    QStringList description = state_;
    description << forecastSaid_;
    description.removeAll(QString());
    setAccessibleDescription(description.join(QStringLiteral(", ")));
}

}  // namespace quotalume
