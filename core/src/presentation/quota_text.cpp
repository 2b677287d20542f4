#include <quotalume/presentation/quota_text.hpp>

#include <quotalume/presentation/menu_bar_presentation.hpp>

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/usage/limit_state.hpp>

#include <unicode/numberformatter.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace quotalume {

namespace {

// The time to a reset in whole minutes rounded up, in the largest unit that reads well: minutes
// under an hour, hours and minutes under a day, days and hours beyond. `keys` name the texts for
// minutes, hours and days; the long and the short countdown differ only in them.
std::string timeLeft(Date reset, Date now, const std::array<const char*, 3>& keys) {
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(reset - now).count();
    const auto m = (s + 59) / 60;
    if (m < 60) {
        return L10n::render(keys[0], {std::to_string(m)});
    }
    if (m < 1440) {
        return L10n::render(keys[1], {std::to_string(m / 60), std::to_string(m % 60)});
    }
    return L10n::render(keys[2], {std::to_string(m / 1440), std::to_string((m % 1440) / 60)});
}

bool due(Date reset, Date now) {
    return reset - now < std::chrono::seconds(1);
}

}  // namespace

std::string L10n::countdown(std::optional<Date> reset, Date now) {
    if (!reset) {
        return L10n::render("quota.reset_unknown");
    }
    if (due(*reset, now)) {
        return L10n::render("quota.awaiting_reset");
    }
    return timeLeft(*reset, now, {"quota.reset_minutes", "quota.reset_hours", "quota.reset_days"});
}

std::string L10n::shortCountdown(std::optional<Date> reset, Date now) {
    if (!reset) {
        return "";
    }
    return timeLeft(due(*reset, now) ? now : *reset, now,
                    {"quota.short_minutes", "quota.short_hours", "quota.short_days"});
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

std::string shareLeft(const std::string& figure) {
    return L10n::render("quota.left", {figure});
}

std::optional<std::string> warningText(const RateWindow& window) {
    switch (remainingLevel(window)) {
        case RemainingLevel::critical:
            return L10n::render(window.remainingPercent().value_or(100) <= 0 ? "quota.used_up"
                                                                             : "quota.critical");
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

std::vector<std::string> windowLines(const RateBucket& bucket, Date now, ShareWording wording) {
    std::vector<std::string> lines;
    for (QuotaWindow which : MenuBarPresentation::visibleWindows(bucket)) {
        const RateWindow window = *bucket.window(which);
        std::string line = title(which) + ": " +
                           (wording == ShareWording::left ? shareLeft(window.percentageText())
                                                          : window.percentageText());
        if (auto warning = warningText(window)) {
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
