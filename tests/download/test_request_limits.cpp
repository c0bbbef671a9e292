// The limits a request keeps, on a clock the test moves by hand: the head's
// time-out, the stall time and the rate floor of the body, and its size cap.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "request_limits.h"

using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

constexpr uint32_t KiB = 1024;

// The program's time limits, over a body of any size.
RequestLimits AnySize()
{
    RequestLimits limits;
    limits.sizeCap = UINT64_MAX;
    return limits;
}

// A body fed in steps: `bytes` every `every`, starting when the head came.
struct Pace
{
    uint64_t bytes;
    milliseconds every;
};

// A watch over a body that came at `perSecond` bytes a second for `count`
// seconds, its head at 0.
RequestWatch SteadyFor(uint64_t perSecond, int count)
{
    RequestWatch watch(AnySize(), milliseconds(0));
    watch.HeadArrived(milliseconds(0));
    for (int s = 1; s <= count; ++s)
        EXPECT_TRUE(watch.BodyArrived(perSecond, seconds(s)));
    return watch;
}

// The time (from the head) at which a body sent at this pace is given up;
// `horizon` when it never is.
milliseconds GivenUpAt(const RequestLimits& limits, Pace pace, milliseconds horizon)
{
    const milliseconds start(1000000); // any origin
    RequestWatch watch(limits, start - seconds(1));
    watch.HeadArrived(start);
    milliseconds nextSend = pace.every;
    for (milliseconds t(0); t < horizon; t += milliseconds(100)) {
        while (pace.bytes > 0 && nextSend <= t) {
            EXPECT_TRUE(watch.BodyArrived(pace.bytes, start + nextSend));
            nextSend += pace.every;
        }
        if (watch.Expired(start + t))
            return t;
    }
    return horizon;
}

} // namespace

TEST(RequestWatch, HeadTimeOutCountsFromTheStart)
{
    RequestLimits limits;
    const milliseconds start(5000);
    RequestWatch watch(limits, start);
    EXPECT_FALSE(watch.Expired(start + seconds(29)));
    EXPECT_FALSE(watch.Expired(start + milliseconds(29999)));
    EXPECT_TRUE(watch.Expired(start + seconds(30)));

    // A head in time starts the body's limits from its arrival.
    RequestWatch answered(limits, start);
    answered.HeadArrived(start + seconds(25));
    EXPECT_FALSE(answered.Expired(start + seconds(50)));
    EXPECT_TRUE(answered.Expired(start + seconds(55)));
}

// Bodies that move, however slowly, go on; bodies that stop or trickle end
// by the stall time or the rate floor, within a minute and a slot.
TEST(RequestWatch, BodiesEndOnlyWhenTheyStopMoving)
{
    const RequestLimits limits = AnySize();
    const milliseconds never(10 * 60 * 1000); // ten minutes watched
    struct Case
    {
        const char* what;
        Pace pace;
        milliseconds earliest, latest; // when it is given up
    } cases[] = {
        {"a 1 Mbit/s line", {12 * KiB, milliseconds(100)}, never, never},
        {"32 KiB/s", {32 * KiB, seconds(1)}, never, never},
        {"exactly the floor, a KiB a second", {KiB, seconds(1)}, never, never},
        {"a burst of 60 KiB every 29 s", {60 * KiB, seconds(29)}, never, never},
        {"silent after the head", {0, seconds(1)}, seconds(30), seconds(30)},
        {"one byte every 10 s", {1, seconds(10)}, seconds(60), seconds(61)},
        {"just under the floor", {KiB - 20, seconds(1)}, seconds(60), seconds(62)},
        {"a burst every 31 s", {100 * KiB, seconds(31)}, seconds(30), seconds(30)},
    };
    for (const Case& c : cases) {
        const milliseconds at = GivenUpAt(limits, c.pace, never);
        EXPECT_GE(at.count(), c.earliest.count()) << c.what;
        EXPECT_LE(at.count(), c.latest.count()) << c.what;
    }
}

TEST(RequestWatch, ABodyThatStopsHalfwayEndsAtTheStallTime)
{
    RequestWatch watch = SteadyFor(50 * KiB, 20);
    EXPECT_FALSE(watch.Expired(seconds(49)));
    EXPECT_TRUE(watch.Expired(seconds(50)));
    EXPECT_EQ(watch.BodyBytes(), 20u * 50 * KiB);
}

// The floor is over any window, not only the first: a body that came fast
// and then fell to a trickle ends a window after it fell.
TEST(RequestWatch, FloorHoldsOverEveryWindow)
{
    RequestWatch watch = SteadyFor(100 * KiB, 120);
    milliseconds t = seconds(120);
    for (; t < seconds(400) && !watch.Expired(t); t += milliseconds(100)) {
        if (t.count() % 20000 == 0) {
            ASSERT_TRUE(watch.BodyArrived(1, t)); // a byte every 20 s: never a stall
        }
    }
    EXPECT_GE(t.count(), milliseconds(seconds(180)).count());
    EXPECT_LE(t.count(), milliseconds(seconds(182)).count());
}

// Limits of another size (a test's, or a report's) keep the same rules.
TEST(RequestWatch, OtherFloorsAndWindows)
{
    struct Case
    {
        const char* what;
        uint32_t floorBytes;
        milliseconds floorWindow;
        Pace pace;
        milliseconds earliest, latest;
    } cases[] = {
        {"a 3 s window, at the floor", 3000, seconds(3), {100, milliseconds(100)}, seconds(60), seconds(60)},
        {"a 3 s window, under it", 3000, seconds(3), {90, milliseconds(100)}, seconds(3), milliseconds(3200)},
        {"no floor", 0, seconds(60), {1, seconds(10)}, seconds(60), seconds(60)},
        {"no window", 60 * KiB, milliseconds(0), {1, seconds(10)}, seconds(60), seconds(60)},
    };
    for (const Case& c : cases) {
        RequestLimits limits = AnySize();
        limits.floorBytes = c.floorBytes;
        limits.floorWindow = c.floorWindow;
        const milliseconds at = GivenUpAt(limits, c.pace, seconds(60));
        EXPECT_GE(at.count(), c.earliest.count()) << c.what;
        EXPECT_LE(at.count(), c.latest.count()) << c.what;
    }
}

TEST(RequestWatch, SizeCapRefusesTheBytesBeyondIt)
{
    struct Case
    {
        uint64_t cap;
        std::vector<uint64_t> arrivals;
        std::vector<bool> taken;
    } cases[] = {
        {100, {60, 40, 1}, {true, true, false}},
        {100, {60, 41, 40}, {true, false, true}},
        {0, {1}, {false}},
        {0, {0}, {true}},
        {15728640, {15728640}, {true}},
        {UINT64_MAX, {UINT64_MAX, 1}, {true, false}},
    };
    for (const Case& c : cases) {
        RequestLimits limits;
        limits.sizeCap = c.cap;
        RequestWatch watch(limits, milliseconds(0));
        watch.HeadArrived(milliseconds(0));
        uint64_t taken = 0;
        for (size_t i = 0; i < c.arrivals.size(); ++i) {
            EXPECT_EQ(watch.BodyArrived(c.arrivals[i], milliseconds(i)), c.taken[i]) << c.cap << " " << i;
            if (c.taken[i])
                taken += c.arrivals[i];
        }
        EXPECT_EQ(watch.BodyBytes(), taken) << c.cap;
    }
}

TEST(RequestWatch, RealClockMovesForward)
{
    const RequestClock clock;
    const milliseconds a = clock.Now();
    EXPECT_GE(clock.Now().count(), a.count());
}
