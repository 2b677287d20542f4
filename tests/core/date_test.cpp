#include <quotalume/date.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace quotalume {
namespace {

TEST(DateTest, StoredSecondsReadBackAsWritten) {
    // Fractions that a double of nanoseconds since 1970 could not carry back unchanged.
    for (double seconds : {794063700.75, 794040000.001, 800000000.123456, 1.5e9 + 0.999999}) {
        EXPECT_EQ(referenceSeconds(dateFromReferenceSeconds(seconds)), seconds) << seconds;
        const double unix = seconds + 978307200;
        EXPECT_EQ(unixSeconds(dateFromUnixSeconds(unix)), unix) << unix;
    }
    // A clock reading with nanoseconds settles after one trip through the stored form.
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
