#include "qt_main_loop.hpp"
#include "core_ports.hpp"
#include "private_bus.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace quotalume {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

TEST(QtMainLoop, WorkFromOtherThreadsRunsOnTheMainThread) {
    QtMainLoop loop;
    const auto mainThread = std::this_thread::get_id();

    std::optional<std::thread::id> postedOn;
    std::thread([&] { loop.post([&] { postedOn = std::this_thread::get_id(); }); }).join();
    EXPECT_FALSE(postedOn);
    ASSERT_TRUE(waitUntil([&] { return postedOn.has_value(); }));
    EXPECT_EQ(*postedOn, mainThread);

    // Blocking core work runs on a worker and resumes here.
    BackgroundWork work(loop);
    std::atomic<bool> onWorker = false;
    std::optional<std::thread::id> doneOn;
    work.run<int>(
        [&] {
            onWorker = std::this_thread::get_id() != mainThread;
            return 42;
        },
        [](std::exception_ptr) { return -1; },
        [&](int result) {
            EXPECT_EQ(result, 42);
            doneOn = std::this_thread::get_id();
        });
    ASSERT_TRUE(waitUntil([&] { return doneOn.has_value(); }));
    EXPECT_TRUE(onWorker);
    EXPECT_EQ(*doneOn, mainThread);
}

TEST(QtMainLoop, TimersFireUntilTheirHandleGoes) {
    QtMainLoop loop;
    int once = 0;
    int repeated = 0;
    int reference = 0;
    auto oneShot = loop.startTimer(1ms, false, [&] { ++once; });
    std::unique_ptr<TimerHandle> repeating;
    repeating = loop.startTimer(1ms, true, [&] {
        if (++repeated == 3) {
            repeating.reset();  // ended from inside its own callback
        }
    });
    auto clock = loop.startTimer(1ms, true, [&] { ++reference; });
    ASSERT_TRUE(waitUntil([&] { return reference >= 20; }));
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeated, 3);
}

TEST(QtMainLoop, WorkAndTimersOfADestroyedLoopAreDropped) {
    bool ran = false;
    std::unique_ptr<TimerHandle> outliving;
    {
        QtMainLoop loop;
        loop.post([&] { ran = true; });
        outliving = loop.startTimer(0ms, false, [&] { ran = true; });
    }
    test::flushEvents();
    EXPECT_FALSE(ran);
    outliving.reset();  // its timer went with the loop
}

}  // namespace
}  // namespace quotalume
