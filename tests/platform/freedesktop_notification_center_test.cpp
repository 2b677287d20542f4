#include "linux/freedesktop_notification_center.hpp"
#include "local_notifier.hpp"
#include "notification_server.hpp"
#include "private_bus.hpp"

#include <QDBusServiceWatcher>

#include <gtest/gtest.h>

namespace quotalume {
namespace {

using test::NotificationServer;
using test::PrivateBus;
using test::waitUntil;

using Outcome = std::optional<std::optional<LocalizedMessage>>;

LimitWarning warningFor(const char* id, WarningReason reason,
                        std::optional<std::int64_t> level = {}) {
    return {.id = id, .reason = reason, .window = QuotaWindow::fiveHour, .levelPercent = level};
}

class FreedesktopNotificationCenterTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus_.address().isEmpty()) << "no dbus-daemon"; }

    std::optional<LocalizedMessage> post(const NotificationRequest& request,
                                         FreedesktopNotificationCenter* center = nullptr) {
        Outcome outcome;
        (center != nullptr ? *center : center_).post(request, [&](auto failure) {
            outcome = failure;
        });
        EXPECT_FALSE(outcome) << "answered inside the call";
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(LocalizedMessage("no answer"));
    }
    uint postedReplacing(const std::string& identifier, NotificationServer& server) {
        EXPECT_EQ(post({.identifier = identifier, .title = "t", .body = "b"}), std::nullopt);
        return server.calls.back().replacesId;
    }

    std::unique_ptr<NotificationServer> serve(QStringList capabilities) {
        auto server = std::make_unique<NotificationServer>(bus_.connect(), std::move(capabilities));
        EXPECT_TRUE(server->registered_);
        return server;
    }
    // Another server in its place, once the center has seen the change.
    void replace(std::unique_ptr<NotificationServer>& server, QStringList capabilities) {
        QDBusServiceWatcher owner(QStringLiteral("org.freedesktop.Notifications"), client_,
                                  QDBusServiceWatcher::WatchForOwnerChange);
        int changes = 0;
        QObject::connect(&owner, &QDBusServiceWatcher::serviceOwnerChanged, [&] { ++changes; });
        server.reset();
        server = serve(std::move(capabilities));
        ASSERT_TRUE(waitUntil([&] { return changes == 2; }));
        test::flushEvents();
    }

    PrivateBus bus_;
    QDBusConnection client_ = bus_.connect();
    FreedesktopNotificationCenter center_{client_};
};

TEST_F(FreedesktopNotificationCenterTest, PostsEveryFieldAndHintAsTheServerReceivesThem) {
    auto server = serve({QStringLiteral("body")});
    EXPECT_EQ(post({.identifier = "e1",
                    .title = "Limit reset",
                    .subtitle = "5-hour limit",
                    .body = "Use <it> & \"go\"",
                    .sound = true}),
              std::nullopt);

    ASSERT_EQ(server->calls.size(), 1U);
    const auto& call = server->calls[0];
    EXPECT_EQ(call.appName, "Quotalume");
    EXPECT_EQ(call.appIcon, "quotalume");
    EXPECT_EQ(call.summary, "Limit reset");
    EXPECT_EQ(call.body, "5-hour limit\nUse <it> & \"go\"");  // no body-markup: plain text
    EXPECT_TRUE(call.actions.isEmpty()) << "no one answers it";
    EXPECT_EQ(call.expireTimeout, -1);
    EXPECT_EQ(call.hints.value("sound-name"), "message-new-instant");
    EXPECT_FALSE(call.hints.contains("suppress-sound"));
    EXPECT_EQ(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
    EXPECT_EQ(call.hints.value("urgency").value<uchar>(), 1);
    EXPECT_EQ(call.hints.value("desktop-entry"), "quotalume");

    // A server that takes markup gets the body escaped; a silent post asks for silence.
    replace(server, {QStringLiteral("body"), QStringLiteral("body-markup")});
    EXPECT_EQ(
        post({.identifier = "e1", .title = "A & B", .body = "a & <b> \"c\" 'd'", .sound = false}),
        std::nullopt);
    ASSERT_EQ(server->calls.size(), 1U);
    const auto& silent = server->calls[0];
    EXPECT_EQ(silent.summary, "A & B");
    EXPECT_EQ(silent.body, "a &amp; &lt;b&gt; &quot;c&quot; &#39;d&#39;");
    EXPECT_EQ(silent.hints.value("suppress-sound"), true);
    EXPECT_FALSE(silent.hints.contains("sound-name"));
}

// Each announcement as the server receives it: a category of its own, critical only where the
// user must act now, and the action that opens the dashboard where the server takes actions
// and someone answers them.
TEST_F(FreedesktopNotificationCenterTest, EachAnnouncementsCategoryUrgencyAndAction) {
    using enum WarningReason;
    center_.setActivated([](const std::string&) {});
    auto server = serve({QStringLiteral("body"), QStringLiteral("actions")});
    const std::vector<std::int64_t> levels = {50, 25, 10};
    const ResetEvent reset = ResetEvent::test(Date());
    const QStringList openAction = {QStringLiteral("default"),
                                    QStringLiteral("Show usage details")};
    const char *const resetKind = "x-quotalume.reset", *const warning = "x-quotalume.warning";
    const std::tuple<const char*, Announcement, bool, const char*, uchar> rows[] = {
        {"reset", reset, false, resetKind, 1},
        {"test", reset, true, resetKind, 1},
        {"a higher level", warningFor("w1", belowLevel, 25), false, warning, 1},
        {"the lowest level", warningFor("w2", belowLevel, 10), false, warning, 2},
        {"below the lowest level chosen now", warningFor("w3", belowLevel, 5), false, warning, 2},
        {"runs out before it resets", warningFor("w4", forecastExhausted), false, warning, 1},
        {"window used up", warningFor("w5", limitReached), false, warning, 2},
        {"usage not allowed", warningFor("w6", usageNotAllowed), false, warning, 2},
        {"a banked reset expiring", warningFor("w7", resetCreditExpiring), false, warning, 1},
    };
    for (const auto& [name, announcement, isTest, category, urgency] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(post(LocalNotifier::request(announcement, true, isTest, levels)), std::nullopt);
        const auto& call = server->calls.back();
        EXPECT_EQ(call.hints.value("category").toString().toStdString(), category);
        EXPECT_EQ(call.hints.value("urgency").value<uchar>(), urgency);
        EXPECT_EQ(call.actions, openAction);
    }

    const NotificationRequest request = LocalNotifier::request(reset, true, false, levels);
    FreedesktopNotificationCenter unanswered(client_);
    EXPECT_EQ(post(request, &unanswered), std::nullopt);
    EXPECT_TRUE(server->calls.back().actions.isEmpty()) << "no one answers it";
    replace(server, {QStringLiteral("body")});
    EXPECT_EQ(post(request), std::nullopt);
    EXPECT_EQ(server->calls.back().hints.value("category"), "x-quotalume.reset");
    EXPECT_TRUE(server->calls.back().actions.isEmpty()) << "a server without actions";
}

// Only a click on a notification of ours opens the dashboard: not one on another client's, nor
// on an id a server before this one gave us. The token comes along when it is a valid one.
TEST_F(FreedesktopNotificationCenterTest, OnlyOurOwnNotificationsActivate) {
    std::vector<std::string> activations;
    center_.setActivated([&](const std::string& token) { activations.push_back(token); });
    auto server = serve({QStringLiteral("actions")});
    ASSERT_EQ(post({.identifier = "e1"}), std::nullopt);
    const uint ours = server->calls.back().id;
    FreedesktopNotificationCenter another(client_);
    another.setActivated([](const std::string&) {});
    ASSERT_EQ(post({.identifier = "e1"}, &another), std::nullopt);
    const uint theirs = server->calls.back().id;
    ASSERT_NE(ours, theirs);

    test::SignalProbe invoked;
    ASSERT_TRUE(client_.connect(QString(), QString(),
                                QStringLiteral("org.freedesktop.Notifications"),
                                QStringLiteral("ActionInvoked"), &invoked, SLOT(received())));
    const auto click = [&](uint id, const QString& key = QStringLiteral("default")) {
        const int before = invoked.count;
        emit server->ActionInvoked(id, key);
        EXPECT_TRUE(waitUntil([&] { return invoked.count > before; }));
        test::flushEvents();
    };
    const auto token = [&](uint id, const char* text) {
        emit server->ActivationToken(id, QString::fromUtf8(text));
    };
    const std::tuple<const char*, std::function<void()>, std::vector<std::string>> rows[] = {
        {"ours, with its token", [&] { token(ours, "wl-token_1"), click(ours); }, {"wl-token_1"}},
        {"ours again: the token was spent", [&] { click(ours); }, {""}},
        {"a token that is no token", [&] { token(ours, "a b\n"), click(ours); }, {""}},
        {"another client's", [&] { click(theirs); }, {}},
        {"another client's token", [&] { token(theirs, "theirs"), click(ours); }, {""}},
        {"an action we never offered", [&] { click(ours, QStringLiteral("settings")); }, {}},
        {"an id of the server before",
         [&] {
             replace(server, {QStringLiteral("actions")});
             click(ours);
         },
         {}},
    };
    for (const auto& [name, act, expected] : rows) {
        activations.clear();
        act();
        // A busy machine may hand the center its signal after the probe's: wait for what is
        // due, and a moment for what is not.
        const std::size_t due = expected.size();
        waitUntil([&] { return activations.size() >= due; });
        waitUntil([&] { return activations.size() > due; }, std::chrono::milliseconds(100));
        EXPECT_EQ(activations, expected) << name;
    }
}

TEST_F(FreedesktopNotificationCenterTest, RepostReplacesUntilClosedOrTheServerChanges) {
    auto server = serve({});
    EXPECT_EQ(postedReplacing("e1", *server), 0U);
    EXPECT_EQ(postedReplacing("e1", *server), 1U);
    EXPECT_EQ(postedReplacing("e2", *server), 0U);

    // The server closed e1's notification: e1 starts afresh, e2 still replaces its own.
    test::SignalProbe closed;
    ASSERT_TRUE(client_.connect(QString(), QString(),
                                QStringLiteral("org.freedesktop.Notifications"),
                                QStringLiteral("NotificationClosed"), &closed, SLOT(received())));
    emit server->NotificationClosed(1, 2);
    ASSERT_TRUE(waitUntil([&] { return closed.count == 1; }));
    test::flushEvents();
    EXPECT_EQ(postedReplacing("e1", *server), 0U);
    EXPECT_EQ(postedReplacing("e2", *server), 2U);

    // Another server, another set of ids.
    replace(server, {});
    EXPECT_EQ(postedReplacing("e2", *server), 0U);
}

TEST_F(FreedesktopNotificationCenterTest, FailuresAreReportedAndWithoutAServiceUnavailable) {
    std::optional<NotificationAuthorization> status;
    auto authorization = [&](FreedesktopNotificationCenter& center) {
        status.reset();
        center.authorization([&](NotificationAuthorization answer) { status = answer; });
        EXPECT_FALSE(status);
        EXPECT_TRUE(waitUntil([&] { return status.has_value(); }));
        return status;
    };
    EXPECT_EQ(authorization(center_), NotificationAuthorization::unavailable) << "no service";
    EXPECT_EQ(post({.identifier = "e1"}),
              LocalizedMessage("error.system", {"org.freedesktop.DBus.Error.ServiceUnknown"}));

    auto server = serve({});
    EXPECT_EQ(authorization(center_), NotificationAuthorization::authorized);
    server->failWith = QStringLiteral("org.example.Refused");
    EXPECT_EQ(post({.identifier = "e1"}),
              LocalizedMessage("error.system", {"org.example.Refused"}));

    // No bus at all: still an answer, and still never inside the call.
    FreedesktopNotificationCenter unconnected(QDBusConnection(QStringLiteral("no-such-bus")));
    EXPECT_EQ(authorization(unconnected), NotificationAuthorization::denied);
    EXPECT_EQ(post({.identifier = "e1"}, &unconnected).value_or(LocalizedMessage()).key,
              "error.system");
}

// Sent but answered too late: the server may show it all the same, so it is not a failure.
TEST_F(FreedesktopNotificationCenterTest, AnAnswerPastTheCallsBoundIsUnconfirmed) {
    auto server = serve({});
    FreedesktopNotificationCenter impatient(client_, std::chrono::milliseconds(200));
    server->holdNotify = true;
    EXPECT_EQ(post({.identifier = "e1"}, &impatient), LocalizedMessage("notification.unconfirmed"));
    EXPECT_EQ(server->heldCount(), 1u);
    server->release();
}

TEST_F(FreedesktopNotificationCenterTest, ADestroyedCenterDropsItsAnswers) {
    auto server = serve({});
    bool answered = false;
    {
        FreedesktopNotificationCenter leaving(client_);
        leaving.post({.identifier = "e1"}, [&](auto) { answered = true; });
        leaving.requestAuthorization([&] { answered = true; });
    }
    // The server answers in order, so once the next post is answered the first was too.
    EXPECT_EQ(post({.identifier = "e2"}), std::nullopt);
    test::flushEvents();
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace quotalume
