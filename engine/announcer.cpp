#include "announcer.hpp"

#include <algorithm>
#include <chrono>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace quotalume {
namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;

// How soon a pass is tried again while something is owed now (a save that failed, say).
constexpr Duration deliveryPeriod = seconds(10);

LocalizedMessage deliveryStatus(const char* key) {
    return LocalizedMessage(key);
}

}  // namespace

Announcer::Announcer(MainLoop& loop, WallClock& clock, WebhookPort& webhooks,
                     LocalNotifier& notifier, Reads engine)
    : loop_(loop), clock_(clock), webhooks_(webhooks), notifier_(notifier), engine_(engine) {}

template <typename Event>
DeliveryRecord<Event> Announcer::owe(Event event, bool webhookWanted) const {
    const bool webhookReady = webhookWanted && engine_.settings.webhookEnabled && engine_.receiver;
    // On, but its configuration could not be used: that is no choice of the user's.
    const char* notSent =
        webhookWanted && engine_.settings.webhookEnabled && engine_.receiverWarning
            ? "webhook.unusable"
            : "webhook.disabled";
    DeliveryRecord<Event> record;
    record.event = std::move(event);
    record.localStatus = deliveryStatus(
        engine_.settings.notificationsEnabled ? "notification.waiting" : "notification.disabled");
    record.webhookStatus = deliveryStatus(webhookReady ? "webhook.waiting" : notSent);
    if (webhookReady) {
        record.webhookFingerprint = engine_.receiver->fingerprint();
    }
    record.webhookPending = webhookReady;
    record.localPending = engine_.settings.notificationsEnabled;
    return record;
}

template <typename Event>
DeliveryRecord<Event> Announcer::recordOnly(Event event) {
    DeliveryRecord<Event> record;
    record.event = std::move(event);
    record.localStatus = deliveryStatus("history.recorded_only");
    record.webhookStatus = deliveryStatus("history.recorded_only");
    return record;
}

template DeliveryRecord<ResetEvent> Announcer::recordOnly(ResetEvent);
template DeliveryRecord<LimitWarning> Announcer::recordOnly(LimitWarning);
template DeliveryRecord<ResetEvent> Announcer::owe(ResetEvent, bool) const;
template DeliveryRecord<LimitWarning> Announcer::owe(LimitWarning, bool) const;

void Announcer::arm() {
    timer_.reset();
    if (!engine_.host.mayWake()) {
        return;
    }
    const Date current = clock_.now();
    std::optional<Date> due;
    auto consider = [&](const Delivery& record) {
        std::optional<Date> when;
        if (record.localPending || (record.webhookPending && !record.nextAttemptAt)) {
            when = current + deliveryPeriod;
        } else if (record.webhookPending) {
            when = *record.nextAttemptAt;
        }
        if (when && (!due || *when < *due)) {
            due = when;
        }
    };
    for (const Ledger& ledger : engine_.host.ledgers()) {
        std::as_const(*ledger.state).eachDelivery(consider);
    }
    if (!due) {
        return;  // nothing owed: nothing to wake for
    }
    const Duration wait = std::max(Duration(0), duration_cast<Duration>(*due - current));
    // Posted, so the pass that re-arms this timer runs outside the timer's own callback.
    timer_ = loop_.startTimer(wait, false, [this] {
        loop_.post([this, alive = std::weak_ptr<int>(alive_)] {
            if (!alive.expired()) {
                deliverPending();
            }
        });
    });
}

Delivery* Announcer::liveRecord(const Announcement& announcement, MetricCounters** counters) {
    // Ids are random UUIDs: one names one record, whichever account's list holds it.
    const std::string& id = announcementId(announcement);
    const bool reset = std::holds_alternative<ResetEvent>(announcement);
    Delivery* found = nullptr;
    for (const Ledger& ledger : engine_.host.ledgers()) {
        ledger.state->eachDelivery([&](auto& record) {
            using Record = std::decay_t<decltype(record)>;
            if (found == nullptr && std::is_same_v<Record, EventRecord> == reset &&
                record.id() == id) {
                found = &record;
                if (counters != nullptr) {
                    *counters = &ledger.state->counters;
                }
            }
        });
    }
    return found;
}

Task Announcer::runPass() {
    if (isDelivering_ || !engine_.host.mayAnnounce()) {
        co_return;
    }
    if (!engine_.host.stateOnDisk()) {
        if (!engine_.host.saveState()) {
            arm();  // the disk may take it in a while
            engine_.host.published();
            co_return;
        }
    }
    isDelivering_ = true;
    // The live lists may change at every await (a refresh adds records, a new source empties
    // them), so each record is looked up again by id before every change. Resets, then warnings;
    // the Codex bucket's before the other buckets' the user chose.
    // Each account's in turn, named by its source's label when there are several.
    std::vector<Announcement> pass;
    for (const Ledger& ledger : engine_.host.ledgers()) {
        std::as_const(*ledger.state).eachDelivery([&](const auto& record) {
            if (record.owed()) {
                auto event = record.event;
                event.accountLabel = ledger.label;
                pass.emplace_back(std::move(event));
            }
        });
    }
    for (const Announcement& owed : pass) {
        const bool isWarning = std::holds_alternative<LimitWarning>(owed);
        Delivery* record = liveRecord(owed);
        if (record == nullptr) {
            continue;
        }

        if (record->localPending) {
            const Delivery before = *record;
            const bool enabled = engine_.settings.notificationsEnabled;
            record->localPending = false;
            record->localStatus =
                deliveryStatus(enabled ? "notification.submitting" : "notification.disabled");
            if (!engine_.host.saveState()) {
                // Nothing leaves the machine whose status is not on disk; the record stays
                // owed, so the pass after the disk recovers shows it after all.
                *record = before;
                engine_.host.published();
                break;
            }
            engine_.host.published();
            if (engine_.settings.notificationsEnabled) {
                auto notifying = notify(owed, engine_.settings.notificationSound, false);
                auto outcome = co_await notifying;
                MetricCounters* counters = nullptr;
                if ((record = liveRecord(owed, &counters)) != nullptr) {
                    (outcome ? counters->notifications.good : counters->notifications.failed) += 1;
                    record->localStatus =
                        outcome ? *outcome : deliveryStatus("notification.failed");
                    engine_.host.saveState();
                    engine_.host.published();
                }
            }
        }

        record = liveRecord(owed);
        if (record == nullptr || !record->webhookPending ||
            (record->nextAttemptAt && *record->nextAttemptAt > clock_.now())) {
            continue;  // nothing owed, or a retry that is not due yet
        }
        if (record->webhookAttempts >= attemptLimit) {
            record->webhookPending = false;
            record->webhookStatus = deliveryStatus("webhook.limit_reached");
        } else if (!engine_.settings.webhookEnabled || !engine_.receiver ||
                   record->webhookFingerprint != engine_.receiver->fingerprint() ||
                   (isWarning && !engine_.warnings.webhook)) {
            // A receiver configured after the reset never gets it.
            record->webhookPending = false;
            record->webhookStatus = deliveryStatus("webhook.cancelled");
        } else {
            const Delivery before = *record;
            record->webhookAttempts += 1;  // counted before the send
            record->webhookStatus = deliveryStatus("webhook.delivering");
            if (!engine_.host.saveState()) {
                *record = before;  // an attempt that never left is no attempt
                engine_.host.published();
                break;
            }
            engine_.host.published();
            auto sending = sendWebhook(owed, *engine_.receiver, false);
            WebhookResult failure = co_await sending;
            MetricCounters* counters = nullptr;
            if ((record = liveRecord(owed, &counters)) == nullptr) {
                continue;
            }
            (failure ? counters->webhooks.failed : counters->webhooks.good) += 1;
            if (!failure) {
                record->webhookPending = false;
                record->webhookStatus = deliveryStatus("webhook.delivered");
            } else {
                const bool retry = failure->retryable && record->webhookAttempts < attemptLimit;
                record->webhookPending = retry;
                if (retry) {
                    record->nextAttemptAt = clock_.now() + seconds(60 * record->webhookAttempts);
                    record->webhookStatus = LocalizedMessage(
                        "webhook.retrying", {std::to_string(record->webhookAttempts)});
                } else {
                    record->nextAttemptAt.reset();
                    record->webhookStatus = failure->message;
                }
            }
        }
        engine_.host.saveState();
        engine_.host.published();
    }
    isDelivering_ = false;
    arm();
    engine_.host.published();
}

Answer<WebhookResult> Announcer::sendWebhook(Announcement announcement,
                                             WebhookConfiguration configuration, bool isTest) {
    return {alive_,
            [this, announcement = std::move(announcement), configuration = std::move(configuration),
             isTest](std::function<void(WebhookResult)> done) {
                webhooks_.send(announcement, configuration, isTest, std::move(done));
            }};
}

Answer<std::optional<LocalizedMessage>> Announcer::notify(Announcement announcement, bool sound,
                                                          bool isTest) {
    return {alive_, [this, announcement = std::move(announcement), sound,
                     isTest](std::function<void(std::optional<LocalizedMessage>)> done) {
                notifier_.send(announcement, sound, isTest, engine_.warnings.levels,
                               std::move(done));
            }};
}

}  // namespace quotalume
