#include "linux/status_notifier_probe.hpp"
#include "private_bus.hpp"

#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quotalume {
namespace {

using namespace std::chrono_literals;
using test::PrivateBus;
using test::waitUntil;

TEST(StatusNotifierProbeTest, WaitsForAHostUntilItsPatienceRunsOut) {
    struct Row {
        const char* name;
        std::optional<std::chrono::milliseconds> watcherAfter;  // none: no watcher at all
        bool host;
        bool expected;
        std::chrono::milliseconds patience;
    };
    for (const auto& row : {
             Row{"a panel with a host", 0ms, true, true, 20s},
             Row{"a panel that starts after us", 400ms, true, true, 20s},
             Row{"a watcher without a host", 0ms, false, false, 600ms},
             Row{"no panel", std::nullopt, false, false, 600ms},
         }) {
        SCOPED_TRACE(row.name);
        PrivateBus bus;
        std::unique_ptr<test::FakeStatusNotifierWatcher> watcher;
        if (row.watcherAfter) {
            QTimer::singleShot(*row.watcherAfter, [&] {
                watcher =
                    std::make_unique<test::FakeStatusNotifierWatcher>(bus.connect(), row.host);
            });
        }
        QObject context;
        std::optional<bool> answer;
        StatusNotifierProbe::await(bus.connect(), row.patience, &context,
                                   [&](bool host) { answer = host; });
        EXPECT_FALSE(answer.has_value()) << "never inside the call";
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }));
        EXPECT_EQ(*answer, row.expected);
    }
}

TEST(StatusNotifierProbeTest, WithoutABusAnswersAtOnceAndNeverAfterItsContext) {
    QObject owner;
    std::optional<bool> answer;
    StatusNotifierProbe::await(QDBusConnection(QStringLiteral("nowhere")), 20s, &owner,
                               [&](bool host) { answer = host; });
    ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 5s));
    EXPECT_FALSE(*answer);

    PrivateBus bus;
    bool called = false;
    {
        QObject context;
        StatusNotifierProbe::await(bus.connect(), 300ms, &context, [&](bool) { called = true; });
    }
    waitUntil([] { return false; }, 600ms);
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace quotalume
