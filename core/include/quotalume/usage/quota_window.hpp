#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace quotalume {

// The two windows Quotalume tracks; the value is the window's length in minutes, which is how
// a bucket's window is found (never by its slot).
enum class QuotaWindow : std::int64_t { fiveHour = 300, weekly = 10080 };

inline constexpr std::array<QuotaWindow, 2> allQuotaWindows = {QuotaWindow::fiveHour,
                                                               QuotaWindow::weekly};

// Exactly 300 or 10080; anything else is no window.
std::optional<QuotaWindow> quotaWindowFromMinutes(std::int64_t minutes);
inline std::int64_t minutes(QuotaWindow window) {
    return static_cast<std::int64_t>(window);
}
const char* apiName(QuotaWindow window);     // "five_hour", "weekly"
const char* shortTitle(QuotaWindow window);  // "5H", "7D"
const char* titleKey(QuotaWindow window);    // "quota.five_hour", "quota.weekly"
std::string title(QuotaWindow window);       // the title key rendered in the current language

}  // namespace quotalume
