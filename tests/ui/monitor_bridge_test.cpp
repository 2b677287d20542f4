#include "monitor_harness.hpp"

namespace quotalume {
namespace {

TEST(MonitorBridgeTest, ManyChangesInOneTurnAreOneSignalAfterTheTurn) {
    test::MonitorHarness harness;
    int signalled = 0;
    QObject::connect(harness.bridge.get(), &MonitorBridge::changed, [&] { ++signalled; });
    harness.monitor->preferences().setStyle(MenuBarStyle::rings);
    harness.monitor->preferences().setScope(MenuBarScope::weekly);
    harness.monitor->preferences().setLanguage(AppLanguage::german);
    EXPECT_FALSE(harness.monitor->preferences().warning());
    EXPECT_EQ(signalled, 0) << "readers must see the finished change";
    harness.settle();
    EXPECT_EQ(signalled, 1);
    EXPECT_EQ(L10n::language(), AppLanguage::german);

    harness.start(harness.reading(24, 39));
    EXPECT_EQ(signalled, 2);
}

}  // namespace
}  // namespace quotalume
