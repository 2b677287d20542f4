#pragma once

#include <quotalume/support/date.hpp>
#include <quotalume/usage/quota_window.hpp>

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace quotalume {

enum class ResetReason {
    newWindow,       // "new_window": the reset time moved on, a new window began
    restoredToFull,  // "restored_to_full": the used share fell from above 0 to 0
};

const char* rawValue(ResetReason reason);
std::optional<ResetReason> resetReasonFromRaw(std::string_view raw);

// What an announcement is about: the window's name, after the bucket's unless the bucket is
// Codex's ("GPT-5.3-Codex-Spark: 5-hour limit"); the bucket's name alone without a window.
std::string announcedName(const std::string& bucketId, const std::string& bucketName,
                          std::optional<QuotaWindow> window);

// One detected reset of a limit window.
struct ResetEvent {
    std::string id;  // random upper-case UUID; also the webhook event id
    Date observedAt;
    std::string bucketId;
    std::string bucketName;
    QuotaWindow window = QuotaWindow::fiveHour;
    double previousUsedPercent = 0;  // clamped to 0…100
    double remainingPercent = 0;     // 100 minus the clamped current used share
    std::optional<Date> previousResetAt;
    std::optional<Date> nextResetAt;
    ResetReason reason = ResetReason::newWindow;
    // The source's label, while it is announced beside other sources'; never stored.
    std::optional<std::string> accountLabel;

    // Texts in the current interface language.
    std::string title() const;              // "reset.title" with the bucket and window names
    std::string notificationTitle() const;  // "reset.headline", after the account's label
    std::string message() const;            // "reset.full"

    // The sample event of notification and webhook tests.
    static ResetEvent test(Date now);

    friend bool operator==(const ResetEvent&, const ResetEvent&) = default;
};

// Stored form: dates as seconds since 2001-01-01 UTC; absent reset dates left out.
void to_json(nlohmann::json& json, const ResetEvent& event);
void from_json(const nlohmann::json& json, ResetEvent& event);

// A headline said of one account among several: "Work: Codex limit reset".
std::string accountHeadline(const std::optional<std::string>& label, std::string headline);

// The thanks line of the About view and the link that posts it.
struct ZenthoThanks {
    static const std::string message;
    static const std::string& composeURL();
};

}  // namespace quotalume
