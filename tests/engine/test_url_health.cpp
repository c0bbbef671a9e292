// The waits a URL's answers ask for: Retry-After in both its forms, the
// back-off without one, and how many unproven pieces a URL may have.
#include "engine/url_health.hpp"

#include <gtest/gtest.h>

namespace tg {
namespace {

// Sun, 06 Nov 1994 08:49:37 GMT
constexpr std::int64_t nov_1994 = 784111777;

TEST(UrlHealth, RetryAfterInSecondsOrAsADate)
{
    struct row
    {
        char const* retry_after;
        char const* date;
        std::int64_t now;
        int seconds;
    } const rows[] = {
        {"", "", nov_1994, -1},
        {"20", "", nov_1994, 20},
        {" 0 ", "", nov_1994, 0},
        {"3600", "", nov_1994, 3600},
        {"3601", "", nov_1994, 3600},
        {"99999999999999999999999", "", nov_1994, 3600}, // no overflow
        {"-5", "", nov_1994, -1},
        {"20s", "", nov_1994, -1},
        {"soon", "", nov_1994, -1},
        // A date is taken against the server's own Date when it sent one...
        {"Sun, 06 Nov 1994 08:50:07 GMT", "Sun, 06 Nov 1994 08:49:37 GMT", 0, 30},
        {"Sunday, 06-Nov-94 08:50:07 GMT", "Sun Nov  6 08:49:37 1994", 0, 30},
        // ...else against the system clock.
        {"Sun, 06 Nov 1994 08:50:07 GMT", "", nov_1994, 30},
        {"Sun, 06 Nov 1994 08:50:07 GMT", "not a date", nov_1994, 30},
        {"Sun, 06 Nov 1994 08:49:00 GMT", "", nov_1994, 0},        // already past
        {"Mon, 07 Nov 1994 08:49:37 GMT", "", nov_1994, 3600},     // a day: bounded to an hour
        {"Sun, 06 Nov 1994 08:50:07 XYZ", "", nov_1994, -1},
    };
    for (auto const& r : rows)
        EXPECT_EQ(retry_after_seconds(r.retry_after, r.date, r.now), r.seconds) << r.retry_after << " / " << r.date;
}

TEST(UrlHealth, BusyWaitBacksOffWithoutRetryAfter)
{
    struct row
    {
        int retry_after;
        int wait_retry;
        int in_a_row;
        int seconds;
    } const rows[] = {
        {-1, 0, 1, 5}, {-1, 0, 2, 10}, {-1, 0, 3, 20}, {-1, 0, 6, 160}, {-1, 0, 7, 300}, {-1, 0, 1000, 300},
        {-1, 30, 1, 30}, {-1, 30, 4, 40},   // never less than urlseed_wait_retry
        {20, 0, 1, 20}, {20, 0, 9, 20},     // the server's word, whatever the count
        {20, 30, 1, 30}, {0, 0, 1, 0},
        {-1, 7200, 1, 3600},                // bounded to an hour
    };
    for (auto const& r : rows)
        EXPECT_EQ(busy_wait_seconds(r.retry_after, r.wait_retry, r.in_a_row), r.seconds)
            << r.retry_after << " " << r.wait_retry << " " << r.in_a_row;
}

TEST(UrlHealth, UnprovenPiecesAreFewAndFewerThanTheGame)
{
    EXPECT_EQ(untrusted_piece_limit(1), 1);
    EXPECT_EQ(untrusted_piece_limit(7), 1);
    EXPECT_EQ(untrusted_piece_limit(10), 2);
    EXPECT_EQ(untrusted_piece_limit(16), 4);
    EXPECT_EQ(untrusted_piece_limit(100000), 4);
}

TEST(UrlHealth, WaitEndIsTheLaterOfGiveUpAndBusy)
{
    url_health h;
    EXPECT_EQ(url_wait_end(h, "http://a/"), time_point{});
    time_point const t0 = lt::clock_type::now();
    h["http://a/"].busy_until = t0 + std::chrono::seconds(20);
    h["http://a/"].given_up_until = t0 + std::chrono::seconds(600);
    h["http://b/"].busy_until = t0 + std::chrono::seconds(20);
    EXPECT_EQ(url_wait_end(h, "http://a/"), t0 + std::chrono::seconds(600));
    EXPECT_EQ(url_wait_end(h, "http://b/"), t0 + std::chrono::seconds(20));
    EXPECT_EQ(url_wait_end(h, "http://c/"), time_point{});
}

} // namespace
} // namespace tg
