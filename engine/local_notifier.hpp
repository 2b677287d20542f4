#pragma once

#include "ports.hpp"

#include <quotalume/l10n/localized_message.hpp>
#include <quotalume/reset/reset_event.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quotalume {

// The one gateway to the desktop's notifications: whether they are allowed, and one
// notification per reset (posting an event again replaces its notification).
class LocalNotifier {
public:
    static constexpr const char* threadIdentifier = "quotalume.quota-resets";

    // `changed` runs after `authorization` changes.
    LocalNotifier(NotificationCenter& center, std::function<void()> changed);

    NotificationAuthorization authorization() const { return authorization_; }
    // "notification.authorized", "notification.denied", "notification.no_service" or
    // "notification.undetermined", rendered.
    std::string statusText() const;

    // Asks the center again; `done` (optional) runs once the answer is stored.
    void refreshPermission(std::function<void()> done = nullptr);
    // Permission first; without it the outcome is "notification.unauthorized" (or
    // "notification.no_service" when no service runs) and nothing is posted. Otherwise
    // "notification.submitted", or absent when the center refused. `levels` are the warning
    // levels chosen now (see `request`).
    void send(const Announcement& announcement, bool sound, bool isTest,
              std::span<const std::int64_t> levels,
              std::function<void(std::optional<LocalizedMessage>)> done);
    void openSystemSettings() { center_.openSettings(); }
    bool canOpenSystemSettings() const { return center_.canOpenSettings(); }

    // The request `send` posts, in the current language. Critical: a blocked state, or a level
    // at or below the lowest of `levels`; everything else, tests too, normal.
    static NotificationRequest request(const Announcement& announcement, bool sound, bool isTest,
                                       std::span<const std::int64_t> levels);

private:
    NotificationCenter& center_;
    std::function<void()> changed_;
    NotificationAuthorization authorization_ = NotificationAuthorization::notDetermined;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quotalume
