// The sources' share of a download rate limit, slice by slice.
#include "engine/rate_budget.hpp"

#include <gtest/gtest.h>

namespace tg {
namespace {

TEST(RateBudget, SourcesTakeWhatThePeersLeaveAndATenthAtLeast)
{
    struct row
    {
        std::int64_t limit, peers_rate, allowance;
    } const rows[] = {
        {0, 0, 0},                 // no limit
        {-5, 0, 0},                // none either
        {1000000, 0, 1000000},     // no peers: all of it
        {1000000, 400000, 600000}, // what the peers leave
        {1000000, 999999, 100000}, // peers fill the line: a tenth
        {1000000, 5000000, 100000},
    };
    for (auto const& r : rows) {
        rate_budget b;
        b.set_limit(r.limit, r.peers_rate);
        EXPECT_EQ(b.allowance(), r.allowance) << r.limit << " " << r.peers_rate;
        EXPECT_EQ(b.limited(), r.allowance > 0);
    }
}

TEST(RateBudget, ReadsWaitForTopUpsAndNoSecondIsTakenAtOnce)
{
    rate_budget b;
    EXPECT_EQ(b.grant(1 << 20), std::size_t(1 << 20)); // unlimited
    b.set_limit(1000000, 0);
    EXPECT_EQ(b.grant(1 << 20), 0u); // nothing until the first top-up
    b.top_up();
    EXPECT_EQ(b.grant(1 << 20), 100000u);
    b.spend(60000);
    EXPECT_EQ(b.grant(1 << 20), 40000u);
    // Idle slices add up to two at the most.
    for (int i = 0; i < 10; ++i) b.top_up();
    EXPECT_EQ(b.grant(1 << 20), 200000u);
    // A second of reads never takes more than a second's worth and two slices.
    std::int64_t taken = 0;
    for (int slice = 0; slice < 10; ++slice) {
        b.top_up();
        std::size_t const n = b.grant(1 << 20);
        b.spend(n);
        taken += std::int64_t(n);
    }
    EXPECT_LE(taken, 1000000 + 200000);
    // A lower limit cuts what is held.
    b.top_up();
    b.set_limit(100000, 0);
    EXPECT_LE(b.grant(1 << 20), 20000u);
}

} // namespace
} // namespace tg
