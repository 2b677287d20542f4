#pragma once

#include "ports.hpp"

#include <quotalume/preferences/preferences_store.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// Stand-ins for the engine's ports: time moves, and services answer, only when the test says.
namespace quotalume::test {

class FakeClock final : public WallClock {
public:
    Date now() const override { return now_; }
    Date now_ = Date(std::chrono::seconds(1'800'000'000));
};

class ManualLoop final : public MainLoop {
public:
    explicit ManualLoop(FakeClock& clock) : clock_(clock) {}

    void post(std::function<void()> work) override { posted_.push_back(std::move(work)); }

    std::unique_ptr<TimerHandle> startTimer(Duration delay, bool repeating,
                                            std::function<void()> fire) override {
        auto timer = std::make_shared<Timer>(
            Timer{clock_.now_ + delay, delay, repeating, std::move(fire), true});
        timers_.push_back(timer);
        return std::make_unique<Handle>(timer);
    }

    // Runs posted work, and what that posts, until nothing is left.
    void drain() {
        while (!posted_.empty()) {
            auto work = std::move(posted_.front());
            posted_.pop_front();
            work();
        }
    }

    // Moves time forward, firing every timer that falls due on the way, in time order.
    void advance(Duration by) {
        const Date until = clock_.now_ + by;
        drain();
        for (;;) {
            std::erase_if(timers_, [](const auto& timer) { return !timer->active; });
            auto next =
                std::min_element(timers_.begin(), timers_.end(),
                                 [](const auto& a, const auto& b) { return a->due < b->due; });
            if (next == timers_.end() || (*next)->due > until) {
                break;
            }
            auto timer = *next;
            clock_.now_ = timer->due;
            if (timer->repeating) {
                timer->due += timer->period;
            } else {
                timer->active = false;
            }
            // A real timer may not be ended from inside its own callback.
            timer->firing = true;
            timer->fire();
            timer->firing = false;
            drain();
        }
        clock_.now_ = until;
    }

    std::size_t activeTimers() const {
        return std::count_if(timers_.begin(), timers_.end(),
                             [](const auto& t) { return t->active; });
    }

private:
    struct Timer {
        Date due;
        Duration period;
        bool repeating;
        std::function<void()> fire;
        bool active;
        bool firing = false;
    };
    class Handle final : public TimerHandle {
    public:
        explicit Handle(std::shared_ptr<Timer> timer) : timer_(std::move(timer)) {}
        ~Handle() override {
            EXPECT_FALSE(timer_->firing) << "a timer was ended inside its own callback";
            timer_->active = false;
        }

    private:
        std::shared_ptr<Timer> timer_;
    };

    FakeClock& clock_;
    std::deque<std::function<void()>> posted_;
    std::vector<std::shared_ptr<Timer>> timers_;
};

// Calls wait until the test answers them; answers arrive through the loop, as real ones do.
template <typename Request, typename Result>
class PendingCalls {
public:
    explicit PendingCalls(MainLoop& loop) : loop_(loop) {}

    void add(Request request, std::function<void(Result)> done) {
        requests_.push_back(request);
        waiting_.push_back(std::move(done));
    }
    // Answers the oldest waiting call.
    void answer(Result result) {
        auto done = std::move(waiting_.front());
        waiting_.pop_front();
        loop_.post([done = std::move(done), result = std::move(result)]() mutable {
            done(std::move(result));
        });
    }
    std::size_t waiting() const { return waiting_.size(); }
    // Forgets every call; unanswered callbacks are dropped, as a port that goes away drops them.
    void clear() {
        requests_.clear();
        waiting_.clear();
    }
    const std::vector<Request>& requests() const { return requests_; }

private:
    MainLoop& loop_;
    std::vector<Request> requests_;
    std::deque<std::function<void(Result)>> waiting_;
};

class FakeCodex final : public CodexSource {
public:
    explicit FakeCodex(MainLoop& loop) : calls(loop) {}
    void fetch(const CodexConfiguration& configuration, CodexClient::Depth depth,
               std::function<void(FetchResult)> done) override {
        depths.push_back(depth);
        calls.add(configuration, std::move(done));
    }
    PendingCalls<CodexConfiguration, FetchResult> calls;
    std::vector<CodexClient::Depth> depths;  // of each call, in order
};

struct SentWebhook {
    ResetEvent event;                     // a reset's
    std::optional<LimitWarning> warning;  // or a warning's
    WebhookConfiguration configuration;
    bool isTest;
};

class FakeWebhooks final : public WebhookPort {
public:
    explicit FakeWebhooks(MainLoop& loop) : calls(loop) {}
    void send(const Announcement& announcement, const WebhookConfiguration& configuration,
              bool isTest, std::function<void(WebhookResult)> done) override {
        const auto* reset = std::get_if<ResetEvent>(&announcement);
        const auto* warning = std::get_if<LimitWarning>(&announcement);
        calls.add({reset ? *reset : ResetEvent{}, warning ? std::optional(*warning) : std::nullopt,
                   configuration, isTest},
                  std::move(done));
    }
    PendingCalls<SentWebhook, WebhookResult> calls;
};

// Answers at once (through the loop) with the authorisation and post outcome it is given.
class FakeNotificationCenter final : public NotificationCenter {
public:
    explicit FakeNotificationCenter(MainLoop& loop) : loop_(loop) {}

    void authorization(std::function<void(NotificationAuthorization)> done) override {
        loop_.post([this, done = std::move(done)] { done(status); });
    }
    // Granted when asked for the first time.
    void requestAuthorization(std::function<void()> done) override {
        ++authorizationRequests;
        loop_.post([this, done = std::move(done)] {
            if (status == NotificationAuthorization::notDetermined) {
                status = NotificationAuthorization::authorized;
            }
            done();
        });
    }
    void post(const NotificationRequest& request,
              std::function<void(std::optional<LocalizedMessage>)> done) override {
        posted.push_back(request);
        loop_.post([this, done = std::move(done)] { done(postFailure); });
    }
    void openSettings() override { ++settingsOpened; }
    bool canOpenSettings() const override { return settingsTool; }

    NotificationAuthorization status = NotificationAuthorization::authorized;
    std::optional<LocalizedMessage> postFailure;
    std::vector<NotificationRequest> posted;
    int authorizationRequests = 0;
    int settingsOpened = 0;
    bool settingsTool = true;

private:
    MainLoop& loop_;
};

class FakeLoginItems final : public LoginItemService {
public:
    LoginItemStatus status() const override { return current; }
    bool setRegistered(bool registered) override {
        if (refuse) {
            return false;
        }
        current = registered ? whenRegistered : LoginItemStatus::disabled;
        return true;
    }
    LoginItemStatus current = LoginItemStatus::disabled;
    LoginItemStatus whenRegistered = LoginItemStatus::enabled;
    bool refuse = false;
};

// Wakes when told; a subscription owns its callback, so one that has gone is never called.
class FakeSignals final : public SystemSignals {
public:
    std::unique_ptr<Subscription> onWake(std::function<void()> wake) override {
        auto entry = std::make_unique<Entry>(std::move(wake));
        wakes_.push_back(entry->call);
        return entry;
    }
    std::unique_ptr<Subscription> onLocaleChange(std::function<void()> change) override {
        return std::make_unique<Entry>(std::move(change));
    }
    void wake() {
        for (const auto& weak : std::vector(wakes_)) {
            if (const auto call = weak.lock()) {
                (*call)();
            }
        }
    }

private:
    struct Entry final : Subscription {
        explicit Entry(std::function<void()> call)
            : call(std::make_shared<std::function<void()>>(std::move(call))) {}
        std::shared_ptr<std::function<void()>> call;
    };
    std::vector<std::weak_ptr<std::function<void()>>> wakes_;
};

// Counts writes, so tests can tell that nothing was stored, and fails them when told.
class CountingPreferences final : public MemoryPreferencesStore {
public:
    int writes = 0;
    int failure = 0;
    std::optional<std::filesystem::path>
        unreadable;  // until the first write, as the file store does

    std::optional<std::filesystem::path> unreadableFile() const override { return unreadable; }

protected:
    void setValue(const std::string& key, std::optional<Value> value) override {
        ++writes;
        if (failure != 0) {
            throw std::system_error(failure, std::system_category(), "preferences");
        }
        MemoryPreferencesStore::setValue(key, std::move(value));
        unreadable.reset();
    }
};

// The engine guard as the test sets it: held unless given a reason to refuse.
class FakeEngine final : public EngineGuard {
public:
    std::optional<LocalizedMessage> claim() override { return refusal; }
    std::optional<LocalizedMessage> refusal;
};

}  // namespace quotalume::test
