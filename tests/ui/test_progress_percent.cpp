#include <gtest/gtest.h>

#include "progress_percent.h"

TEST(ProgressPercent, TruncatedUnsignedPercentages)
{
    struct Case
    {
        uint32_t done, total;
        int32_t percent;
    } cases[] = {
        {1, 3, 33},
        {2, 3, 66},
        {999, 1000, 99},
        {1000, 1000, 100},
        {0, 5, 0},
        {3000000000u, 4000000000u, 75}, // counts of 2^31 and more are unsigned
        {4294967295u, 4294967295u, 100},
        {3, 2, 150},                     // above the total: shown as computed
        {4294967295u, 1, 2147483647},    // would overflow the int: held at its largest
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
    EXPECT_EQ(PercentText(37), L"37 %");
    EXPECT_EQ(PercentText(0), L"0 %");
}
