#include "linux/freedesktop_notification_center.hpp"
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
    EXPECT_TRUE(call.actions.isEmpty());
    EXPECT_EQ(call.expireTimeout, -1);
    EXPECT_EQ(call.hints.value("sound-name"), "message-new-instant");
    EXPECT_FALSE(call.hints.contains("suppress-sound"));
    EXPECT_EQ(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
    EXPECT_EQ(call.hints.value("urgency").value<uchar>(), 1);
    EXPECT_EQ(call.hints.value("desktop-entry"), "quotalume");
    EXPECT_EQ(call.hints.value("category"), "presence.online");
}

TEST_F(FreedesktopNotificationCenterTest, SilentPostWithMarkupEscapesTheBody) {
    auto server = serve({QStringLiteral("body"), QStringLiteral("body-markup")});
    EXPECT_EQ(
        post({.identifier = "e1", .title = "A & B", .body = "a & <b> \"c\" 'd'", .sound = false}),
        std::nullopt);

    ASSERT_EQ(server->calls.size(), 1U);
    const auto& call = server->calls[0];
    EXPECT_EQ(call.summary, "A & B");
    EXPECT_EQ(call.body, "a &amp; &lt;b&gt; &quot;c&quot; &#39;d&#39;");
    EXPECT_EQ(call.hints.value("suppress-sound"), true);
    EXPECT_FALSE(call.hints.contains("sound-name"));
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
    QDBusServiceWatcher owner(QStringLiteral("org.freedesktop.Notifications"), client_,
                              QDBusServiceWatcher::WatchForOwnerChange);
    int changes = 0;
    QObject::connect(&owner, &QDBusServiceWatcher::serviceOwnerChanged, [&] { ++changes; });
    server.reset();
    server = serve({});
    ASSERT_TRUE(waitUntil([&] { return changes == 2; }));
    test::flushEvents();
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
