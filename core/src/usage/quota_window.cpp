#include <quotalume/usage/quota_window.hpp>

namespace quotalume {

std::optional<QuotaWindow> quotaWindowFromMinutes(std::int64_t minutes) {
    switch (minutes) {
        case 300:
            return QuotaWindow::fiveHour;
        case 10080:
            return QuotaWindow::weekly;
        default:
            return std::nullopt;
    }
}

const char* apiName(QuotaWindow window) {
    return window == QuotaWindow::fiveHour ? "five_hour" : "weekly";
}

const char* shortTitle(QuotaWindow window) {
    return window == QuotaWindow::fiveHour ? "5H" : "7D";
}

const char* titleKey(QuotaWindow window) {
    return window == QuotaWindow::fiveHour ? "quota.five_hour" : "quota.weekly";
}

}  // namespace quotalume
