#pragma once

#include "local_notifier.hpp"
#include "monitor_state.hpp"
#include "ports.hpp"
#include "task.hpp"

#include <quotalume/preferences/settings.hpp>
#include <quotalume/reset/announcement.hpp>
#include <quotalume/reset/limit_warning.hpp>
#include <quotalume/webhook/webhook_configuration.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quotalume {

// One account's history, and the label its announcements carry (none with one source).
struct Ledger {
    MonitorState* state;
    std::optional<std::string> label;
};

// What the announcer needs of the engine that owns it.
class AnnouncerHost {
public:
    // Every account's history, the first source's first.
    virtual std::vector<Ledger> ledgers() = 0;
    virtual ~AnnouncerHost() = default;
    // Whether announcing is ours now: not in demonstration, and the engine lock held.
    virtual bool mayAnnounce() const = 0;
    // Whether a pass may wake us later: announcing is ours, and the engine runs.
    virtual bool mayWake() const = 0;
    // Writes the state; whether it is on disk now.
    virtual bool saveState() = 0;
    virtual bool stateOnDisk() const = 0;
    virtual void published() = 0;
};

// The engine's announcing room: the records it owes, and the delivery pass that settles them,
// saving each in-flight status before anything leaves the machine (one notification, at most
// `attemptLimit` webhook attempts, crash-safe), woken only when something is due.
class Announcer {
public:
    static constexpr std::int64_t attemptLimit = 3;

    // What it reads of the engine at the moment it delivers; each must outlive it.
    struct Reads {
        AnnouncerHost& host;
        const Settings& settings;
        const WarningPreferences& warnings;
        const std::optional<WebhookConfiguration>& receiver;     // the loaded, usable one
        const std::optional<LocalizedMessage>& receiverWarning;  // why it could not be used
    };

    Announcer(MainLoop& loop, WallClock& clock, WebhookPort& webhooks, LocalNotifier& notifier,
              Reads engine);
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    // A record that owes `event` by notification and, when `webhookWanted` and a usable
    // receiver is on, by webhook; what is not owed says why.
    template <typename Event>
    DeliveryRecord<Event> owe(Event event, bool webhookWanted) const;
    // A record of what is kept in the history and owed to no one.
    template <typename Event>
    static DeliveryRecord<Event> recordOnly(Event event);

    // Starts a pass unless one runs; owed records are settled in order, resets then warnings.
    void deliverPending() { runPass(); }
    // Sets the wake-up for the next record that falls due; none when nothing is owed.
    void arm();
    void disarm() { timer_.reset(); }
    bool isDelivering() const { return isDelivering_; }

    // The ports, awaited; for the engine's test sends too.
    Answer<WebhookResult> sendWebhook(Announcement announcement, WebhookConfiguration configuration,
                                      bool isTest);
    Answer<std::optional<LocalizedMessage>> notify(Announcement announcement, bool sound,
                                                   bool isTest);

private:
    Task runPass();
    // The record as it stands, and the account's counters with it.
    Delivery* liveRecord(const Announcement& announcement, MetricCounters** counters = nullptr);

    MainLoop& loop_;
    WallClock& clock_;
    WebhookPort& webhooks_;
    LocalNotifier& notifier_;
    Reads engine_;
    bool isDelivering_ = false;
    std::unique_ptr<TimerHandle> timer_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quotalume
