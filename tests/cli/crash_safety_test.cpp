#include "cli_runner.hpp"
#include "http_receiver.hpp"
#include "notification_server.hpp"
#include "private_bus.hpp"

#include <quotalume/coordination/engine_lock.hpp>
#include <quotalume/preferences/preferences_store.hpp>
#include <quotalume/reset/limit_warning.hpp>

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <set>
#include <thread>

namespace quotalume {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using test::waitUntil;

std::string account(const test::TempDir& codexHome) {
    return UsageSnapshot::fingerprint(codexHome.str() + ":acct");
}

// Where the first run of a row is killed with SIGKILL.
enum class Trigger {
    permissionHeld,   // the reset is recorded; the permission check before Notify goes unanswered
    notifyHeld,       // the Notify call goes unanswered
    notifyAnswered,   // `after` from the answer to Notify
    webhookHeld,      // the receiver never answers the request
    webhookAnswered,  // `after` from the receiver's answer `status`
};

struct KillPoint {
    const char* name;
    Trigger trigger;
    milliseconds after{0};
    int status = 200;       // the receiver's answer in the killed run
    int laterStatus = 200;  // and in every run after it
};

// What a row announces: a reset, or a warning (the same machinery, another list of the state).
enum class Announced { reset, warning };

// One announcement: the stored detector holds a half-used window; the fake Codex a fresh one for
// a reset, or the same one 95 % used for a warning.
class Delivery {
public:
    Delivery(const std::string& seed, const std::string& seedAccount, std::time_t seedReset,
             Announced announced, const QString& bus)
        : bus_(bus.toStdString()), list_(announced == Announced::reset ? "records" : "warnings") {
        codex_.write("rate_limits.json", announced == Announced::reset
                                             ? test::codexLimits(0, std::time(nullptr) + 5 * 3600)
                                             : test::codexLimits(95, seedReset));
        // The history belongs to one account, which the Codex home is part of.
        std::string state = seed;
        for (std::size_t at; (at = state.find(seedAccount)) != std::string::npos;) {
            state.replace(at, seedAccount.size(), account(codex_));
        }
        replaceFileAtomically(data() / "state.json", state, ".seed.tmp");
        test::saveWebhookOn(codex_, receiver_.url(), /*warnings=*/true);
    }

    std::filesystem::path data() const { return codex_.path() / "data" / "Quotalume"; }
    test::HTTPReceiver& receiver() { return receiver_; }

    std::unique_ptr<ChildProcess> launch() const {
        return std::make_unique<ChildProcess>(
            test::watchProcess(codex_, {"--lang", "en", "--codex", codex_.executable()}, bus_));
    }

    // The state file as it is now; discarded when it does not parse.
    json state() const {
        return json::parse(codex_.read("data/Quotalume/state.json"), nullptr, false);
    }

    json record() const {
        const json now = state();
        const json list = now.is_object() ? now.value(list_, json()) : json();
        return list.is_array() && list.size() == 1 ? list[0] : json();
    }

    static bool settled(const json& record) {
        return record.is_object() && !record["localPending"].get<bool>() &&
               !record["webhookPending"].get<bool>();
    }

    // The retry pause has passed while no engine ran.
    void skipRetryPause() const {
        json now = state();
        if (now.is_object() && now.contains(list_) && now[list_].size() == 1) {
            now[list_][0].erase("nextAttemptAt");
            replaceFileAtomically(data() / "state.json", now.dump(), ".age.tmp");
        }
    }

private:
    test::FakeCodexHome codex_;
    test::HTTPReceiver receiver_;
    std::string bus_;
    const char* list_;
};

bool exited(ChildProcess& child) {
    return waitUntil([&] { return child.waitForExit(milliseconds(0)); }, std::chrono::seconds(10));
}

class CrashSafetyTest : public testing::Test {
protected:
    // A reading of a half-used window, recorded once by a watch of its own.
    static void SetUpTestSuite() {
        bus_ = new test::PrivateBus;
        test::FakeCodexHome codex;
        seedReset_ = std::time(nullptr) + 3600;
        codex.write("rate_limits.json", test::codexLimits(50, seedReset_));
        ChildProcess watch(test::watchProcess(codex, {"--codex", codex.executable()}));
        test::eventually(
            [&] {
                seed_ = codex.read("data/Quotalume/state.json");
                return seed_.find("\"snapshot\"") != std::string::npos;
            },
            std::chrono::seconds(30));  // a loaded machine may start late
        seedAccount_ = account(codex);
        watch.signal(SIGTERM);
        watch.waitForExit(std::chrono::seconds(20));
    }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(bus_->address().isEmpty()) << "no dbus-daemon";
        ASSERT_NE(seed_.find("\"snapshot\""), std::string::npos) << "no first reading";
        ASSERT_NE(seed_.find(seedAccount_), std::string::npos) << "another account";
    }

    // Kills the first run at `point`, reruns watch until the announcement is settled, checks all
    // runs.
    void deliver(const KillPoint& point, Announced announced) {
        SCOPED_TRACE(point.name);
        std::atomic<pid_t> victim = 0;  // outlives the receiver, whose thread kills it
        Delivery delivery(seed_, seedAccount_, seedReset_, announced, bus_->address());
        test::NotificationServer server(bus_->connect(), {QStringLiteral("body")});
        EXPECT_TRUE(server.registered_);
        test::ReceiverAnswer first = test::ReceiverAnswer::withStatus(point.status);
        if (point.trigger == Trigger::webhookHeld) {
            first = test::ReceiverAnswer::of(test::ReceiverAnswer::Kind::neverAnswer);
        } else if (point.trigger == Trigger::webhookAnswered) {
            first.afterAnswer = [&victim, after = point.after] {
                std::this_thread::sleep_for(after);
                if (const pid_t pid = victim.exchange(0); pid > 0) {
                    ::kill(pid, SIGKILL);
                }
            };
        }
        delivery.receiver().answer(first);
        server.holdServerInformation = point.trigger == Trigger::permissionHeld;
        server.holdNotify =
            point.trigger == Trigger::notifyHeld || point.trigger == Trigger::notifyAnswered;

        auto watch = delivery.launch();
        victim = watch->pid();
        bool reached = true;
        switch (point.trigger) {
            case Trigger::permissionHeld:
                // Checks before the reading are answered; the one after it is not.
                reached = waitUntil([&] {
                    if (server.heldCount() > 0 && delivery.record().is_null()) {
                        server.release();
                    }
                    return server.heldCount() > 0 && !delivery.record().is_null();
                });
                break;
            case Trigger::notifyHeld:
            case Trigger::notifyAnswered:
                reached = waitUntil([&] { return server.heldCount() > 0; });
                if (point.trigger == Trigger::notifyAnswered) {
                    server.release();
                    waitUntil([] { return false; }, point.after);
                }
                break;
            case Trigger::webhookHeld:
                reached = waitUntil([&] { return !delivery.receiver().requests().empty(); });
                break;
            case Trigger::webhookAnswered:
                reached = waitUntil([&] { return victim == 0; });
                break;
        }
        EXPECT_TRUE(reached) << "never got there";
        victim = 0;
        watch->signal(SIGKILL);
        EXPECT_TRUE(exited(*watch));
        watch.reset();
        // A killed holder leaves the lock free.
        EXPECT_TRUE(EngineLock::acquire(delivery.data()));

        delivery.receiver().answer(test::ReceiverAnswer::withStatus(point.laterStatus));
        server.holdServerInformation = server.holdNotify = false;
        server.release();
        json record = delivery.record();
        for (int run = 1; run <= 4 && !Delivery::settled(record); ++run) {
            delivery.skipRetryPause();
            watch = delivery.launch();
            // Until settled, or waiting out a retry pause this run would sit through.
            EXPECT_TRUE(waitUntil(
                [&] {
                    record = delivery.record();
                    return Delivery::settled(record) ||
                           (record.is_object() && record.contains("nextAttemptAt"));
                },
                std::chrono::seconds(10)))
                << "run " << run << ": " << delivery.state();
            watch->signal(SIGTERM);
            EXPECT_TRUE(exited(*watch));
            EXPECT_EQ(watch->exitCode(), 0);
        }

        const json state = delivery.state();
        EXPECT_FALSE(state.is_discarded());
        EXPECT_TRUE(Delivery::settled(record)) << state;
        EXPECT_TRUE(!record.is_object() ||
                    record["localStatus"]["key"] != "notification.submitting")
            << "a notification cut off by the kill reads as unconfirmed: " << state;
        EXPECT_LE(server.calls.size(), 1u) << "shown twice";
        const auto requests = delivery.receiver().requests();
        EXPECT_LE(requests.size(), 3u);
        if (record.is_object()) {
            const std::string id = record["event"]["id"];
            EXPECT_LE(requests.size(), record["webhookAttempts"].get<std::size_t>());
            EXPECT_TRUE(point.laterStatus != 200 ||
                        record["webhookStatus"]["key"] == "webhook.delivered")
                << state;
            for (const auto& request : requests) {
                EXPECT_EQ(request.header("Idempotency-Key"), id);
            }
        }
        for (const std::string& name : test::entriesOf(delivery.data())) {
            EXPECT_TRUE(
                (std::set<std::string>{"engine.lock", "state.json", "webhook.json"}.contains(name)))
                << name << " left in the data folder";
        }
    }

    static inline test::PrivateBus* bus_ = nullptr;
    static inline std::string seed_;
    static inline std::string seedAccount_;
    static inline std::time_t seedReset_ = 0;
};

using enum Trigger;
const KillPoint points[] = {
    {"reading recorded, permission check unanswered", permissionHeld},
    {"Notify unanswered", notifyHeld},
    {"Notify answered, at once", notifyAnswered, milliseconds(0)},
    {"Notify answered, 2 ms later", notifyAnswered, milliseconds(2)},
    {"Notify answered, 10 ms later", notifyAnswered, milliseconds(10)},
    {"webhook unanswered", webhookHeld},
    {"webhook answered 500, at once", webhookAnswered, milliseconds(0), 500},
    {"webhook answered 503, 20 ms later", webhookAnswered, milliseconds(20), 503},
    {"webhook answered 503 every time", webhookAnswered, milliseconds(0), 503, 503},
    {"webhook answered 200, at once", webhookAnswered, milliseconds(0), 200},
    {"webhook answered 200, 1 ms later", webhookAnswered, milliseconds(1), 200},
};

TEST_F(CrashSafetyTest, KilledAtEachStepOfADeliveryItNeverRepeatsNorLosesTheReset) {
    for (const KillPoint& point : points) {
        deliver(point, Announced::reset);
    }
}

TEST_F(CrashSafetyTest, KilledAtEachStepOfADeliveryItNeverRepeatsNorLosesTheWarning) {
    for (const KillPoint& point : points) {
        deliver(point, Announced::warning);
    }
}

}  // namespace
}  // namespace quotalume
