#include "local_notifier.hpp"

#include <quotalume/l10n/l10n.hpp>
#include <quotalume/usage/quota_window.hpp>

#include <algorithm>

namespace quotalume {

LocalNotifier::LocalNotifier(NotificationCenter& center, std::function<void()> changed)
    : center_(center), changed_(std::move(changed)) {}

std::string LocalNotifier::statusText() const {
    switch (authorization_) {
        case NotificationAuthorization::authorized:
        case NotificationAuthorization::provisional:
            return L10n::text("notification.authorized");
        case NotificationAuthorization::denied:
            return L10n::text("notification.denied");
        case NotificationAuthorization::unavailable:
            return L10n::text("notification.no_service");
        default:
            return L10n::text("notification.undetermined");
    }
}

void LocalNotifier::refreshPermission(std::function<void()> done) {
    std::weak_ptr<int> alive = alive_;
    center_.authorization([this, alive, done = std::move(done)](NotificationAuthorization status) {
        if (alive.expired()) {
            return;
        }
        if (status != authorization_) {
            authorization_ = status;
            if (changed_) {
                changed_();
            }
        }
        if (done) {
            done();
        }
    });
}

namespace {

// The last level the user asked to hear of, or a blocked state: nothing is left to wait for.
bool demandsAction(const LimitWarning& warning, std::span<const std::int64_t> levels) {
    if (isBlocked(warning.reason)) {
        return true;
    }
    // At or below: a level chosen earlier may lie under the ones chosen now.
    return warning.reason == WarningReason::belowLevel && warning.levelPercent && !levels.empty() &&
           *warning.levelPercent <= *std::ranges::min_element(levels);
}

}  // namespace

NotificationRequest LocalNotifier::request(const Announcement& announcement, bool sound,
                                           bool isTest, std::span<const std::int64_t> levels) {
    NotificationRequest request{.identifier = announcementId(announcement),
                                .sound = sound,
                                .threadIdentifier = threadIdentifier};
    if (isTest) {
        request.title = L10n::text("notification.test_title");
        request.body = L10n::text("notification.test_body");
    } else if (const auto* event = std::get_if<ResetEvent>(&announcement)) {
        request.title = event->notificationTitle();
        request.subtitle = announcedName(event->bucketId, event->bucketName, event->window);
        request.body = event->message();
    } else {
        const auto& warning = std::get<LimitWarning>(announcement);
        request.kind = NotificationKind::warning;
        if (demandsAction(warning, levels)) {
            request.urgency = NotificationUrgency::critical;
        }
        request.title = warning.headline();
        request.subtitle = announcedName(warning.bucketId, warning.bucketName, warning.window);
        request.body = warning.detailText();
    }
    return request;
}

void LocalNotifier::send(const Announcement& announcement, bool sound, bool isTest,
                         std::span<const std::int64_t> levels,
                         std::function<void(std::optional<LocalizedMessage>)> done) {
    std::weak_ptr<int> alive = alive_;
    NotificationRequest posted = request(announcement, sound, isTest, levels);
    refreshPermission([this, alive, posted = std::move(posted), done = std::move(done)]() mutable {
        if (alive.expired()) {
            return;
        }
        if (authorization_ != NotificationAuthorization::authorized &&
            authorization_ != NotificationAuthorization::provisional) {
            // Without a notification service nothing was refused: there is no one to ask.
            done(LocalizedMessage(authorization_ == NotificationAuthorization::unavailable
                                      ? "notification.no_service"
                                      : "notification.unauthorized"));
            return;
        }
        center_.post(posted, [done = std::move(done)](std::optional<LocalizedMessage> failure) {
            if (!failure) {
                done(LocalizedMessage("notification.submitted"));
            } else if (failure->key == "notification.unconfirmed") {
                done(std::move(failure));  // late, not refused: it may be on the screen
            } else {
                done(std::nullopt);
            }
        });
    });
}

}  // namespace quotalume
