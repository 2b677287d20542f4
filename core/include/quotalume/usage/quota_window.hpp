#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quotalume {

// A limit window, named by its length in minutes, which is how a bucket's window is found
// (never by its slot). Any length from a minute to a year is a window; the five-hour and the
// weekly one are the two every stored file of every version knows.
enum class QuotaWindow : std::int64_t { fiveHour = 300, weekly = 10080 };

inline constexpr std::array<QuotaWindow, 2> allQuotaWindows = {QuotaWindow::fiveHour,
                                                               QuotaWindow::weekly};

// The longest window worth showing: a year.
inline constexpr std::int64_t longestWindowMinutes = 366 * 24 * 60;

// A minute to a year; anything else is no window.
std::optional<QuotaWindow> quotaWindowFromMinutes(std::int64_t minutes);
inline std::int64_t minutes(QuotaWindow window) {
    return static_cast<std::int64_t>(window);
}
// The five-hour or the weekly window: what older versions read back from stored files.
bool isStandard(QuotaWindow window);

// Names, from the length: five hours and a week by name; a whole number of days, then of
// hours, then minutes.
std::string apiName(QuotaWindow window);     // webhooks: "five_hour", "weekly", "30_day", …
std::string recordId(QuotaWindow window);    // records: "five_hour", "weekly", "30d", "2h", …
std::string optionId(QuotaWindow window);    // --window: "5h", "7d", "30d", "2h", "45m"
std::string shortTitle(QuotaWindow window);  // "5H", "7D", "30D", "45M"
std::string title(QuotaWindow window);       // "5-hour limit", "30-day limit", … (localized)
// The window an option or record id names, when that is its own id.
std::optional<QuotaWindow> quotaWindowFromOptionId(std::string_view id);
std::optional<QuotaWindow> quotaWindowFromRecordId(std::string_view id);

}  // namespace quotalume
