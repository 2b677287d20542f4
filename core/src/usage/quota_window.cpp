#include <quotalume/usage/quota_window.hpp>

#include <quotalume/l10n/l10n.hpp>

#include <cctype>
#include <charconv>

namespace quotalume {
namespace {

// The unit a length is named in: whole days, else whole hours, else minutes.
struct Named {
    std::int64_t count;
    char unit;  // 'd', 'h' or 'm'
};

Named named(QuotaWindow window) {
    const std::int64_t length = minutes(window);
    if (length % 1440 == 0) {
        return {length / 1440, 'd'};
    }
    if (length % 60 == 0) {
        return {length / 60, 'h'};
    }
    return {length, 'm'};
}

std::string counted(QuotaWindow window) {
    const Named name = named(window);
    return std::to_string(name.count) + name.unit;
}

// "30d" back to a length: digits without a leading zero, then the unit.
std::optional<QuotaWindow> fromCounted(std::string_view id) {
    if (id.size() < 2 || id.size() > 8 || id.front() == '0') {
        return std::nullopt;
    }
    std::int64_t count = 0;
    const auto [end, failure] = std::from_chars(id.data(), id.data() + id.size() - 1, count);
    if (failure != std::errc() || end != id.data() + id.size() - 1) {
        return std::nullopt;
    }
    const char unit = id.back();
    const std::int64_t length = unit == 'd' ? count * 1440 : unit == 'h' ? count * 60 : count;
    return unit == 'd' || unit == 'h' || unit == 'm' ? quotaWindowFromMinutes(length)
                                                     : std::nullopt;
}

// The window `name` gives `id`: the five-hour or weekly one by its name, else a counted length.
std::optional<QuotaWindow> fromId(std::string_view id, std::string (*name)(QuotaWindow)) {
    for (QuotaWindow standard : allQuotaWindows) {
        if (name(standard) == id) {
            return standard;
        }
    }
    // Only a window's own id: "1440m" and "24h" are "1d", and "7d" is no record id.
    const auto window = fromCounted(id);
    return window && name(*window) == id ? window : std::nullopt;
}

}  // namespace

std::optional<QuotaWindow> quotaWindowFromMinutes(std::int64_t minutes) {
    if (minutes <= 0 || minutes > longestWindowMinutes) {
        return std::nullopt;
    }
    return static_cast<QuotaWindow>(minutes);
}

bool isStandard(QuotaWindow window) {
    return window == QuotaWindow::fiveHour || window == QuotaWindow::weekly;
}

std::string apiName(QuotaWindow window) {
    if (isStandard(window)) {
        return window == QuotaWindow::fiveHour ? "five_hour" : "weekly";
    }
    const Named name = named(window);
    return std::to_string(name.count) + (name.unit == 'd'   ? "_day"
                                         : name.unit == 'h' ? "_hour"
                                                            : "_minute");
}

std::string recordId(QuotaWindow window) {
    return isStandard(window) ? apiName(window) : counted(window);
}

std::string optionId(QuotaWindow window) {
    return window == QuotaWindow::fiveHour ? "5h"
           : window == QuotaWindow::weekly ? "7d"
                                           : counted(window);
}

std::string shortTitle(QuotaWindow window) {
    std::string text = optionId(window);
    text.back() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    return text;
}

std::string title(QuotaWindow window) {
    if (isStandard(window)) {
        return L10n::render(window == QuotaWindow::fiveHour ? "quota.five_hour" : "quota.weekly");
    }
    const Named name = named(window);
    return L10n::render(name.unit == 'd'   ? "quota.window_days"
                        : name.unit == 'h' ? "quota.window_hours"
                                           : "quota.window_minutes",
                        {std::to_string(name.count)});
}

std::optional<QuotaWindow> quotaWindowFromOptionId(std::string_view id) {
    return fromId(id, optionId);
}

std::optional<QuotaWindow> quotaWindowFromRecordId(std::string_view id) {
    return fromId(id, recordId);
}

}  // namespace quotalume
