#include <quotalume/support/date.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace quotalume {
namespace {

TEST(DateTest, AClockReadingSettlesAfterOneTripThroughTheStoredForm) {
    const Date now(std::chrono::nanoseconds(1772352900123456789));
    const Date once = dateFromReferenceSeconds(referenceSeconds(now));
    EXPECT_LT(std::chrono::abs(once - now), std::chrono::microseconds(1));
    EXPECT_EQ(dateFromReferenceSeconds(referenceSeconds(once)), once);
}

TEST(DateTest, OutOfRangeSecondsAreClamped) {
    EXPECT_EQ(dateFromUnixSeconds(-5), Date{});
    EXPECT_EQ(dateFromUnixSeconds(std::nan("")), Date{});
    EXPECT_EQ(dateFromReferenceSeconds(-978307200.5), Date{});
    EXPECT_EQ(unixSeconds(dateFromUnixSeconds(1e300)), latestUnixSeconds);
}

}  // namespace
}  // namespace quotalume
