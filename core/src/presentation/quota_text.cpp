#include <quotalume/presentation/quota_text.hpp>

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/usage/limit_state.hpp>

#include <unicode/numberformatter.h>

#include <algorithm>
#include <cmath>

namespace quotalume {

std::string L10n::countdown(std::optional<Date> reset, Date now) {
    if (!reset) {
        return L10n::render("quota.reset_unknown");
    }
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(*reset - now).count();
    if (s < 1) {
        return L10n::render("quota.awaiting_reset");
    }
    const auto m = (s + 59) / 60;
    if (s + 59 < 3600) {
        return L10n::render("quota.reset_minutes", {std::to_string(m)});
    }
    if (s + 59 < 86400) {
        return L10n::render("quota.reset_hours", {std::to_string(m / 60), std::to_string(m % 60)});
    }
    return L10n::render("quota.reset_days",
                        {std::to_string((s + 59) / 86400), std::to_string((m % 1440) / 60)});
}

std::string forecastText(const UsageForecast& forecast, Date resetsAt, Date now) {
    if (!forecast.runsOutAt) {
        return L10n::render("forecast.lasts");
    }
    const std::string at = momentText(*forecast.runsOutAt, now);
    const auto m = std::max<long long>(
        0,
        std::chrono::duration_cast<std::chrono::minutes>(resetsAt - *forecast.runsOutAt).count());
    if (m < 60) {
        return L10n::render("forecast.runs_out_minutes", {at, std::to_string(m)});
    }
    if (m < 1440) {
        return L10n::render("forecast.runs_out_hours",
                            {at, std::to_string(m / 60), std::to_string(m % 60)});
    }
    return L10n::render("forecast.runs_out_days",
                        {at, std::to_string(m / 1440), std::to_string((m % 1440) / 60)});
}

RemainingLevel remainingLevel(const RateWindow& window) {
    if (!window.usedPercent || !std::isfinite(*window.usedPercent) || *window.usedPercent < 0) {
        return RemainingLevel::none;
    }
    const double used = *window.usedPercent;
    const double remaining = used < 100 ? 100 - used : 0;
    return remaining < 25   ? RemainingLevel::critical
           : remaining < 50 ? RemainingLevel::low
                            : RemainingLevel::none;
}

std::optional<std::string> warningText(RemainingLevel level) {
    switch (level) {
        case RemainingLevel::critical:
            return L10n::render("quota.critical");
        case RemainingLevel::low:
            return L10n::render("quota.low");
        case RemainingLevel::none:
            break;
    }
    return std::nullopt;
}

namespace {

// Exact decimal text in the locale's digits and separators, every fraction digit kept.
std::string localeDecimal(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::string formatted;
    icu::number::NumberFormatter::withLocale(icu::Locale(L10n::locale().c_str()))
        .precision(icu::number::Precision::minMaxFraction(0, 38))
        .formatDecimal(text.c_str(), status)
        .toString(status)
        .toUTF8String(formatted);
    return U_SUCCESS(status) && !formatted.empty() ? formatted : text;
}

}  // namespace

std::string CreditsSnapshot::displayText() const {
    const CreditsSnapshot& credits = *this;
    if (credits.unlimited) {
        return L10n::render("credits.unlimited");
    }
    if (auto balance = credits.balanceValue()) {
        // No account holds a trillion credits: a longer figure would only widen every line
        // that shows it.
        constexpr std::size_t wholeDigitsShown = 12;
        const std::string& text = balance->text();
        if (std::min(text.find('.'), text.size()) > wholeDigitsShown) {
            return L10n::render("credits.more_than",
                                {localeDecimal(std::string(wholeDigitsShown, '9'))});
        }
        return localeDecimal(text);
    }
    return L10n::render(credits.hasCredits ? "credits.available" : "credits.none");
}

std::string updatedText(Date observedAt) {
    return L10n::render("dashboard.updated",
                        {L10n::date(observedAt, DateStyle::none, DateStyle::mediumStyle)});
}

std::string lastUpdatedText(Date observedAt) {
    return L10n::render("quota.last_updated",
                        {L10n::date(observedAt, DateStyle::mediumStyle, DateStyle::mediumStyle)});
}

std::vector<std::string> windowLines(const RateBucket& bucket, Date now) {
    std::vector<std::string> lines;
    for (QuotaWindow which : MenuBarPresentation::visibleWindows(bucket)) {
        const RateWindow window = *bucket.window(which);
        std::string line = title(which) + ": " + window.percentageText();
        if (auto warning = warningText(remainingLevel(window))) {
            line += " (" + *warning + ")";
        }
        line += " \u00b7 " + L10n::countdown(window.resetDate(), now);
        lines.push_back(std::move(line));
    }
    if (bucket.credits && bucket.credits->shouldDisplay()) {
        lines.push_back(L10n::render("credits.title") + ": " + bucket.credits->displayText());
    }
    return lines;
}

}  // namespace quotalume
