// The source registry: numbering, retiring, erasing, address test, rates and
// the rows of sources without a live connection.
#include "engine/source_registry.hpp"
#include "manual_clock.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <stdexcept>

namespace tg {
namespace {

using namespace std::chrono_literals;
using state = direct_http_source::state_t;

class SourceRegistry : public ::testing::Test
{
protected:
    test::manual_clock clock;
    source_registry reg{clock};

    std::vector<std::int32_t> ids()
    {
        std::vector<std::int32_t> v;
        for (auto const& [id, s] : reg.sources()) v.push_back(id);
        return v;
    }
    state state_of(std::int32_t id) { return reg.find_direct_http_source(id)->state; }
};

TEST_F(SourceRegistry, NewSourceHasItsInitialValues)
{
    reg.add_url_seed("http://a/x");
    direct_http_source const* s = reg.find_direct_http_source(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->id, 1);
    EXPECT_EQ(s->url, "http://a/x");
    EXPECT_EQ(s->state, direct_http_source::idle);
    EXPECT_TRUE(s->endpoint.address().is_v4());
    EXPECT_EQ(s->endpoint, lt::tcp::endpoint(lt::address_v4(), 0));
    EXPECT_TRUE(s->client.empty());
    EXPECT_FALSE(s->reported);
    EXPECT_FALSE(s->was_connected);
    EXPECT_EQ(s->total_download + s->sampled_download + s->total_upload + s->sampled_upload, 0);
    EXPECT_EQ(s->sample_time, clock.now());
    EXPECT_EQ(reg.find_direct_http_source(2), nullptr);
}

TEST_F(SourceRegistry, SameUrlTwiceGivesTwoSources)
{
    reg.add_url_seed("http://a/x");
    reg.add_url_seed("http://a/x");
    EXPECT_EQ(ids(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(reg.num_url_seeds(), 2);
}

TEST_F(SourceRegistry, ErasedNumbersAreHandedOutAgainLowestFirst)
{
    for (int i = 0; i < 3; ++i) reg.add_url_seed("u");
    reg.remove_direct_http_source(2);
    EXPECT_EQ(reg.num_url_seeds(), 2);
    reg.add_url_seed("v");
    EXPECT_EQ(reg.find_direct_http_source(2)->url, "v");
    reg.add_url_seed("w");
    EXPECT_EQ(ids(), (std::vector<std::int32_t>{1, 2, 3, 4}));
    reg.remove_direct_http_source(9); // unknown: nothing happens
    EXPECT_EQ(reg.num_url_seeds(), 4);
}

TEST_F(SourceRegistry, RemoveUrlSeedMarksTheFirstMatchOnlyAndAgain)
{
    reg.add_url_seed("v");
    reg.add_url_seed("u");
    reg.add_url_seed("u");
    reg.remove_url_seed("u");
    EXPECT_EQ(state_of(1), state::idle);
    EXPECT_EQ(state_of(2), state::removing);
    EXPECT_EQ(state_of(3), state::idle);
    reg.remove_url_seed("u");
    EXPECT_EQ(state_of(2), state::removing);
    EXPECT_EQ(state_of(3), state::idle);
    EXPECT_EQ(reg.num_url_seeds(), 3);
}

TEST_F(SourceRegistry, RemoveUrlSeedComparesBytesExactly)
{
    struct row
    {
        char const* stored;
        char const* asked;
        bool marks;
    } const rows[] = {
        {"http://h/game/", "http://h/game/", true},
        {"http://h/game/", "http://H/game/", false},
        {"http://h/game/", "http://h/Game/", false},
        {"http://h/game/", "http://h/game", false},
        {"http://h/game", "http://h/game/", false},
        {"http://h/game/", "", false},
        {"", "", true},
    };
    for (auto const& r : rows) {
        source_registry fresh(clock);
        fresh.add_url_seed(r.stored);
        fresh.remove_url_seed(r.asked);
        EXPECT_EQ(fresh.find_direct_http_source(1)->state == state::removing, r.marks)
            << r.stored << " / " << r.asked;
    }
}

TEST_F(SourceRegistry, RedirectedSourceIsRetiredByTheUrlItWasAddedWith)
{
    // The connection rule retires by the URL it added; a redirect must not
    // make a source it can never retire.
    reg.add_url_seed("http://old/");
    reg.add_url_seed("http://old/");
    reg.find_direct_http_source(1)->url = "http://new/";
    reg.remove_url_seed("http://new/");
    EXPECT_EQ(state_of(1), state::idle);
    reg.remove_url_seed("http://old/");
    EXPECT_EQ(state_of(1), state::removing);
    EXPECT_EQ(state_of(2), state::idle);
}

TEST_F(SourceRegistry, AddressInUseComparesAddressesNotPorts)
{
    reg.add_url_seed("a");
    direct_http_source* s = reg.find_direct_http_source(1);
    s->endpoint = lt::tcp::endpoint(lt::make_address("127.0.0.1"), 80);
    s->state = state::connected;
    struct row
    {
        char const* addr;
        int port;
        bool in_use;
    } const rows[] = {
        {"127.0.0.1", 80, true},
        {"127.0.0.1", 8080, true},
        {"127.0.0.2", 80, false},
        {"::ffff:127.0.0.1", 80, false}, // another family
        {"0.0.0.0", 0, false},
    };
    for (auto const& r : rows)
        EXPECT_EQ(reg.direct_http_address_in_use(lt::tcp::endpoint(lt::make_address(r.addr), r.port)), r.in_use)
            << r.addr << ":" << r.port;
    s->state = state::removing;
    EXPECT_FALSE(reg.direct_http_address_in_use(lt::tcp::endpoint(lt::make_address("127.0.0.1"), 81)));
}

TEST_F(SourceRegistry, AddressInUseComparesIpv6ScopeIds)
{
    reg.add_url_seed("a");
    lt::address_v6 a = lt::make_address_v6("fe80::1");
    a.scope_id(2);
    reg.find_direct_http_source(1)->endpoint = lt::tcp::endpoint(a, 80);
    EXPECT_TRUE(reg.direct_http_address_in_use(lt::tcp::endpoint(a, 1)));
    lt::address_v6 b = a;
    b.scope_id(3);
    EXPECT_FALSE(reg.direct_http_address_in_use(lt::tcp::endpoint(b, 80)));
}

TEST_F(SourceRegistry, NeverConnectedSourceHoldsTheAnyAddress)
{
    reg.add_url_seed("a");
    EXPECT_TRUE(reg.direct_http_address_in_use(lt::tcp::endpoint(lt::address_v4(), 5)));
    reg.remove_url_seed("a");
    EXPECT_FALSE(reg.direct_http_address_in_use(lt::tcp::endpoint(lt::address_v4(), 5)));
}

TEST(SourceRates, WholeMillisecondsWithAFloorOfOne)
{
    test::manual_clock clock;
    struct row
    {
        std::int64_t bytes;
        lt::time_duration elapsed;
        std::int64_t rate;
    } const rows[] = {
        {1500, 3ms, 500000},
        {1500, 0ms, 1500000},
        {1500, std::chrono::microseconds(999), 1500000}, // truncated to 0 ms
        {1000, 1500us, 1000000},                          // truncated to 1 ms
        {7, 3ms, 2333},                                   // division truncates
        {0, 1s, 0},
        {1 << 20, 1s, 1 << 20},
    };
    for (auto const& r : rows) {
        direct_http_source s("u", 1, clock.now());
        s.total_download = r.bytes;
        s.total_upload = r.bytes;
        time_point const later = clock.now() + r.elapsed;
        EXPECT_EQ(s.download_rate(later), r.rate) << r.bytes;
        EXPECT_EQ(s.upload_rate(later), r.rate) << r.bytes;
    }
}

TEST(SourceRates, SampleRestartsTheMeasurement)
{
    test::manual_clock clock;
    direct_http_source s("u", 1, clock.now());
    s.total_download = 5000;
    clock.advance(1s);
    EXPECT_EQ(s.download_rate(clock.now()), 5000);
    s.take_rate_sample(clock.now());
    EXPECT_EQ(s.download_rate(clock.now()), 0);
    s.total_download += 100;
    clock.advance(100ms);
    EXPECT_EQ(s.download_rate(clock.now()), 1000);
}

TEST_F(SourceRegistry, RowsOfSourcesWithoutALiveConnection)
{
    reg.add_url_seed("never");    // 1: never connected: no row
    reg.add_url_seed("ended");    // 2: connected once, connection gone
    reg.add_url_seed("retiring"); // 3: connected once, removing: no row
    reg.add_url_seed("live");     // 4: its live connection reported itself
    reg.add_url_seed("idle");     // 5: connected once, no traffic
    for (int id = 2; id <= 5; ++id) reg.find_direct_http_source(id)->was_connected = true;
    direct_http_source* ended = reg.find_direct_http_source(2);
    ended->state = state::retry_wait;
    ended->endpoint = lt::tcp::endpoint(lt::make_address("127.0.0.1"), 8080);
    ended->client = "Direct HTTP";
    ended->total_download = 3000;
    ended->total_upload = 250;
    reg.find_direct_http_source(3)->state = state::removing;
    reg.find_direct_http_source(4)->reported = true;
    reg.find_direct_http_source(5)->state = state::resolving;

    clock.advance(1s);
    std::vector<peer_record> v;
    reg.append_rows_without_connection(v);
    ASSERT_EQ(v.size(), 2u);
    peer_record const& r = v[0];
    EXPECT_EQ(r.source_id, 2);
    EXPECT_EQ(r.ip, ended->endpoint);
    EXPECT_EQ(r.client, "Direct HTTP");
    EXPECT_EQ(r.connection_type, lt::peer_info::web_seed);
    EXPECT_EQ(r.total_download, 3000);
    EXPECT_EQ(r.total_upload, 250);
    EXPECT_EQ(r.down_speed, 3000);
    EXPECT_EQ(r.up_speed, 250);
    EXPECT_EQ(r.flags, lt::peer_info::seed);
    EXPECT_EQ(r.payload_down_speed, 0);
    EXPECT_EQ(v[1].source_id, 5);
    EXPECT_EQ(v[1].flags, lt::peer_flags_t{});
    EXPECT_TRUE(v[1].client.empty());
    EXPECT_EQ(v[1].ip, lt::tcp::endpoint(lt::address_v4(), 0));

    // The row took a sample; no record keeps its reported flag.
    EXPECT_EQ(ended->sampled_download, 3000);
    EXPECT_EQ(ended->sample_time, clock.now());
    for (auto const& [id, s] : reg.sources()) EXPECT_FALSE(s.reported) << id;

    // Next collection: no new bytes, so no seed flag; the live source now
    // gets a row of its own since nothing reported it.
    v.clear();
    reg.append_rows_without_connection(v);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].down_speed, 0);
    EXPECT_EQ(v[0].flags, lt::peer_flags_t{});
    EXPECT_EQ(v[1].source_id, 4);
}

TEST_F(SourceRegistry, CountStopsAtItsSixteenBitLimit)
{
    for (int i = 0; i < source_registry::max_sources + 5; ++i) reg.add_url_seed("u");
    EXPECT_EQ(reg.num_url_seeds(), source_registry::max_sources);
    EXPECT_EQ(reg.sources().rbegin()->first, source_registry::max_sources);
}

TEST_F(SourceRegistry, ConnectStepThatThrowsLeavesNoSourcePending)
{
    for (int i = 0; i < 4; ++i) reg.add_url_seed("http://a/x");
    for (auto& [id, s] : reg.sources()) s.state = direct_http_source::connect_pending;
    std::vector<std::int32_t> called;
    auto const failures = reg.connect_each({1, 2, 3, 4}, 30, [&](std::int32_t id) {
        called.push_back(id);
        reg.find_direct_http_source(id)->state = direct_http_source::resolving;
        if (id == 2) throw std::bad_alloc();
        if (id == 3) throw std::runtime_error("resolver");
    });
    EXPECT_EQ(called, (std::vector<std::int32_t>{1, 2, 3, 4}));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[1].find("source 3"), std::string::npos);
    EXPECT_EQ(state_of(1), direct_http_source::resolving);
    EXPECT_EQ(state_of(4), direct_http_source::resolving);
    for (std::int32_t id : {2, 3}) {
        EXPECT_EQ(state_of(id), direct_http_source::retry_wait) << id;
        EXPECT_EQ(reg.find_direct_http_source(id)->retry_at, clock.now() + 30s) << id;
    }
}

TEST_F(SourceRegistry, ErasingASourceDropsItsLookup)
{
    for (int i = 0; i < 3; ++i) reg.add_url_seed("u");
    reg.start_lookup(1, 10);
    reg.start_lookup(2, 11);
    EXPECT_TRUE(reg.lookup_current(2, 11));
    EXPECT_FALSE(reg.lookup_current(2, 10));
    reg.remove_direct_http_source(2);
    reg.add_url_seed("v"); // number 2 again
    EXPECT_FALSE(reg.lookup_current(2, 11));
    reg.find_direct_http_source(1)->state = direct_http_source::removing;
    reg.erase(reg.sources().find(1));
    EXPECT_FALSE(reg.lookup_current(1, 10));
}

} // namespace
} // namespace tg
