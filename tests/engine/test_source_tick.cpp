// The once-a-second source pass and the connect path, on a real session and
// our server on 127.0.0.1: what each state and each URL turns into.
#include "engine/direct_http_engine.hpp"
#include "engine/torrent_sources.hpp"
#include "http_test_server.hpp"
#include "manual_clock.hpp"
#include "session_fixture.hpp"

#include <libtorrent/ip_filter.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace tg {
namespace {

using namespace std::chrono_literals;
using state = direct_http_source::state_t;

using test::wait_until;

class SourceTick : public ::testing::Test
{
protected:
    test::temp_dir served{"served"};
    test::temp_dir leech{"leech"};
    test::http_test_server server{served.path()};
    std::vector<std::string> log;
    std::mutex log_mutex;
    test::manual_clock clock;
    lt::session session{test::with_file_disk_io(settings())};
    direct_http_engine engine{session, clock};
    std::vector<char> file = test::make_torrent(served.path(), "game.bin", {{"", 200000}}, 32 * 1024);

    static lt::settings_pack settings()
    {
        lt::settings_pack s = test::loopback_settings();
        s.set_int(lt::settings_pack::urlseed_wait_retry, 30);
        return s;
    }
    void SetUp() override
    {
        engine.set_log([this](std::string const& line) {
            std::lock_guard<std::mutex> l(log_mutex);
            log.push_back(line);
        });
    }
    std::string log_text()
    {
        std::lock_guard<std::mutex> l(log_mutex);
        std::string s;
        for (auto const& line : log) s += line + "\n";
        return s;
    }
    int logged(std::string const& text)
    {
        std::lock_guard<std::mutex> l(log_mutex);
        int n = 0;
        for (auto const& line : log) n += line.find(text) != std::string::npos;
        return n;
    }
    torrent_handle add(lt::torrent_flags_t flags = lt::torrent_flags::paused | lt::torrent_flags::auto_managed,
        std::string const& save_path = {}, std::vector<char> const* other = nullptr)
    {
        lt::add_torrent_params atp;
        atp.ti = std::make_shared<lt::torrent_info>(other ? *other : file, lt::from_span);
        atp.save_path = save_path.empty() ? leech.path().u8string() : save_path;
        atp.flags = flags;
        return engine.add_torrent(atp, other ? *other : file);
    }
    static state state_of(torrent_handle const& h, std::size_t i = 0) { return h.sources().at(i).state; }
    // What the once-a-second passes would do meanwhile, without the wait.
    void passes(int n)
    {
        for (int i = 0; i < n; ++i) engine.run_pass();
    }
};

TEST_F(SourceTick, UrlsTheConnectStepRefuses)
{
    struct row
    {
        std::string url;
        char const* logged; // nullptr: erased without a report
    } const rows[] = {
        {"ftp://127.0.0.1/game.bin", "unsupported URL protocol"},
        {"", nullptr},
        {"127.0.0.1/game.bin", nullptr},
        {"http:///game.bin", "invalid hostname"},
        {"http://127.0.0.1:0/game.bin", "invalid port"},
    };
    torrent_handle h = add();
    for (auto const& r : rows) h.add_url_seed(r.url);
    h.add_url_seed(server.url("/game.bin"));
    ASSERT_TRUE(wait_until([&] { return h.num_url_seeds() == 1; }, 10s)) << h.num_url_seeds();
    EXPECT_EQ(h.sources()[0].url, server.url("/game.bin"));
    EXPECT_EQ(h.sources()[0].id, 6);
    for (auto const& r : rows) {
        if (r.logged) {
            EXPECT_EQ(logged(r.logged), 1) << r.url;
        }
    }
    EXPECT_EQ(logged(" : "), 0);
}

TEST_F(SourceTick, PausedAndSeedingTorrentsLeaveTheRegistryAlone)
{
    torrent_handle paused = add(lt::torrent_flags::paused);
    paused.add_url_seed("ftp://x/");
    paused.add_url_seed(server.url("/game.bin"));
    // The served folder holds the whole file: that torrent seeds after its check.
    auto const complete_file = test::make_torrent(served.path(), "whole.bin", {{"", 50000}}, 32 * 1024);
    torrent_handle seeding = add(lt::torrent_flags_t{}, served.path().u8string(), &complete_file);
    seeding.add_url_seed("ftp://x/");
    ASSERT_TRUE(wait_until([&] { return seeding.status().is_seeding; }, 20s));
    passes(2);
    EXPECT_EQ(paused.num_url_seeds(), 2);
    EXPECT_EQ(state_of(paused, 0), state::idle);
    EXPECT_EQ(state_of(paused, 1), state::idle);
    EXPECT_EQ(seeding.num_url_seeds(), 1);
    EXPECT_EQ(state_of(seeding), state::idle);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SourceTick, RetiredSourceStaysWhileItsConnectionLives)
{
    // Shared with the server's thread, which may still run the script for a
    // late request after this test's body has ended.
    auto hold = std::make_shared<std::atomic<bool>>(true);
    server.set_script([hold](test::http_request const&) -> std::optional<std::vector<std::string>> {
        while (*hold) std::this_thread::sleep_for(10ms);
        return std::vector<std::string>{}; // then close without an answer
    });
    torrent_handle h = add();
    h.add_url_seed(server.url("/game.bin"));
    ASSERT_TRUE(wait_until([&] { return !server.requests().empty(); }, 10s));
    h.remove_url_seed(server.url("/game.bin"));
    EXPECT_EQ(state_of(h), state::removing);
    passes(2);
    EXPECT_EQ(h.num_url_seeds(), 1);
    std::vector<peer_record> rows;
    h.get_peer_info(rows);
    ASSERT_EQ(rows.size(), 1u); // its live connection still reports itself
    EXPECT_EQ(rows[0].source_id, 1);
    *hold = false;
    EXPECT_TRUE(wait_until([&] { return h.num_url_seeds() == 0; }, 10s));
}

TEST_F(SourceTick, RefusedConnectionsAreTriedAgainEachPass)
{
    int port = 0;
    {
        boost::asio::io_context ioc;
        boost::asio::ip::tcp::acceptor a(ioc, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
        port = a.local_endpoint().port();
    }
    torrent_handle h = add();
    h.add_url_seed("http://127.0.0.1:" + std::to_string(port) + "/game.bin");
    // The first refusal is logged, the repeats by a count.
    EXPECT_TRUE(wait_until([&] { return logged("failed 2 more times") == 1; }, 15s));
    EXPECT_EQ(logged("disconnected"), 1);
    EXPECT_EQ(h.num_url_seeds(), 1);
    EXPECT_EQ(h.sources()[0].id, 1);
    EXPECT_TRUE(h.sources()[0].was_connected);
}

TEST_F(SourceTick, RetryWaitIsDueWhenItsTimeComes)
{
    server.set_script([](test::http_request const& r) -> std::optional<std::vector<std::string>> {
        if (r.index == 0) return std::vector<std::string>{test::http_test_server::status(503, "Busy")};
        return std::nullopt;
    });
    torrent_handle h = add();
    h.add_url_seed(server.url("/game.bin"));
    ASSERT_TRUE(wait_until([&] { return state_of(h) == state::retry_wait; }, 10s));
    EXPECT_EQ(h.sources()[0].retry_at, clock.now() + std::chrono::seconds(30));
    int const connections = server.connections();
    passes(2); // the clock stands still: not due
    EXPECT_EQ(state_of(h), state::retry_wait);
    EXPECT_EQ(server.connections(), connections);
    clock.advance(30s); // exactly retry_at: due
    EXPECT_TRUE(wait_until([&] { return server.connections() > connections; }, 10s));
    EXPECT_TRUE(wait_until([&] { return h.status().is_seeding; }, 30s));
}

TEST_F(SourceTick, IpFilterParksTheSource)
{
    lt::ip_filter f;
    f.add_rule(lt::make_address("127.0.0.1"), lt::make_address("127.0.0.1"), lt::ip_filter::blocked);
    session.set_ip_filter(f);
    torrent_handle h = add();
    h.add_url_seed(server.url("/game.bin"));
    ASSERT_TRUE(wait_until([&] { return state_of(h) == state::retry_wait; }, 10s));
    EXPECT_EQ(logged("blocked by the IP filter"), 1);
    EXPECT_EQ(h.num_url_seeds(), 1);
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(SourceTick, LiveConnectionRows)
{
    std::atomic<bool> slow{true};
    server.set_script([&](test::http_request const&) -> std::optional<std::vector<std::string>> {
        if (slow) std::this_thread::sleep_for(300ms);
        return std::nullopt;
    });
    torrent_handle h = add(lt::torrent_flags::paused);
    h.add_url_seed(server.url("/game.bin"));
    h.add_url_seed(server.url("/game.bin"));
    h.native_handle().resume();
    // Both connections have asked (a URL with no piece proven yet has only
    // a few pieces under way, so the second asks once the first passed).
    ASSERT_TRUE(wait_until([&] {
        auto const s = h.sources();
        return server.connections() == 2 && h.status().total_payload_download > 0
            && std::all_of(s.begin(), s.end(), [](direct_http_source const& x) { return x.total_upload > 0; });
    }, 10s));
    std::vector<peer_record> rows(4);
    h.get_peer_info(rows);
    ASSERT_EQ(rows.size(), 2u);
    for (auto const& r : rows) {
        EXPECT_TRUE(r.source_id == 1 || r.source_id == 2);
        EXPECT_EQ(r.client, "Direct HTTP");
        EXPECT_EQ(r.connection_type, lt::peer_info::web_seed);
        EXPECT_EQ(r.ip.address(), lt::make_address("127.0.0.1"));
        EXPECT_EQ(r.ip.port(), server.port());
        EXPECT_TRUE(r.flags & lt::peer_info::local_connection);
        EXPECT_TRUE(r.flags & lt::peer_info::upload_only);
        EXPECT_TRUE(r.flags & lt::peer_info::seed);
        // Answered: the server unchokes us (remote_choked clear); we never
        // unchoke it (choked set). interesting | choked | local_connection |
        // seed | upload_only.
        EXPECT_EQ(static_cast<std::uint32_t>(r.flags), 0x2423u);
        EXPECT_GT(r.total_upload, 0); // the request texts
    }
    for (auto const& s : h.sources()) {
        EXPECT_FALSE(s.reported);
        EXPECT_EQ(s.client, "Direct HTTP");
        EXPECT_EQ(s.sample_time, clock.now());
        EXPECT_EQ(s.endpoint.port(), server.port());
    }
    lt::torrent_status const st = h.status();
    EXPECT_GE(st.num_peers, 2);
    EXPECT_GE(st.num_seeds, 2);
    slow = false;
}

TEST_F(SourceTick, HalfOpenLimitQueuesConnects)
{
    // A listener that never accepts: once its backlog is full, further
    // connects stay half-open until their time-out.
    boost::asio::io_context ioc;
    boost::asio::ip::tcp::acceptor a(ioc);
    a.open(boost::asio::ip::tcp::v4());
    a.bind(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    a.listen(0);
    std::string const url = "http://127.0.0.1:" + std::to_string(a.local_endpoint().port()) + "/game.bin";
    engine.set_max_half_open_connections(1);
    torrent_handle h = add();
    for (int i = 0; i < 4; ++i) h.add_url_seed(url);
    auto counts = [&](int& queued, int& connecting) {
        std::vector<peer_record> rows;
        h.get_peer_info(rows);
        queued = connecting = 0;
        for (auto const& r : rows) {
            queued += bool(r.flags & peer_queued);
            connecting += bool(r.flags & lt::peer_info::connecting);
        }
        return int(rows.size());
    };
    int queued = 0, connecting = 0;
    ASSERT_TRUE(wait_until([&] { return counts(queued, connecting) == 4 && queued >= 2; }, 10s))
        << queued << " queued, " << connecting << " connecting";
    EXPECT_LE(connecting, 1);
}

TEST(UrlSeedAddressChoice, RotatesAndSpreadsOverAddresses)
{
    test::manual_clock clock;
    source_registry reg(clock);
    lt::tcp::endpoint const a(lt::make_address("127.0.0.1"), 80), b(lt::make_address("127.0.0.2"), 80);
    std::vector<lt::tcp::endpoint> const both{a, b};
    s_url_seed_address_rotation = 0;
    reg.add_url_seed("u");
    reg.add_url_seed("u");
    // The never-connected records hold 0.0.0.0 only.
    EXPECT_EQ(choose_url_seed_address(reg, both), 0u);
    reg.find_direct_http_source(1)->endpoint = a;
    EXPECT_EQ(choose_url_seed_address(reg, both), 1u); // start point 1
    reg.find_direct_http_source(2)->endpoint = b;
    // Counter wrapped to 0; both held: the start point is taken anyway.
    EXPECT_EQ(choose_url_seed_address(reg, both), 0u);
    EXPECT_EQ(s_url_seed_address_rotation, 0);
    EXPECT_EQ(choose_url_seed_address(reg, both), 0u);
    EXPECT_EQ(s_url_seed_address_rotation, 1);
    // From start point 1 with b held, a (before the start point) is free
    // once its source is retired.
    reg.remove_url_seed("u");
    EXPECT_EQ(choose_url_seed_address(reg, both), 0u);
    // One address: every source uses it.
    std::vector<lt::tcp::endpoint> const one{a};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(choose_url_seed_address(reg, one), 0u);
}

class SourceTickFaults : public SourceTick
{
protected:
    // 64 pieces of 16 KiB.
    std::vector<char> game = test::make_torrent(served.path(), "big.bin", {{"", 1024 * 1024}}, 16 * 1024);

    torrent_handle add_game(int sources)
    {
        torrent_handle h = add(lt::torrent_flags::paused, {}, &game);
        for (int i = 0; i < sources; ++i) h.add_url_seed(server.url("/big.bin"));
        h.native_handle().resume();
        return h;
    }
    bool complete(torrent_handle const& h) { return wait_until([&] { return h.status().is_seeding; }, 60s); }
};

TEST_F(SourceTickFaults, WrongFilesGiveTheUrlUpAndLaterSourcesWait)
{
    // Every piece the server sends has one byte wrong.
    std::atomic<bool> wrong{true};
    server.set_script([&](test::http_request const& r) -> std::optional<std::vector<std::string>> {
        if (!wrong) return std::nullopt;
        std::string text = server.serve(r);
        text.back() = char(text.back() ^ 0x5a);
        return std::vector<std::string>{text};
    });
    torrent_handle h = add_game(3);
    ASSERT_TRUE(wait_until([&] { return logged("given up for 10 minutes") == 1 && h.num_url_seeds() == 0; }, 30s));
    EXPECT_EQ(logged("pieces failed their hash check and none passed"), 1);
    int const connections = server.connections();

    // A source added for it now waits out the ten minutes.
    h.add_url_seed(server.url("/big.bin"));
    passes(2);
    EXPECT_EQ(state_of(h), state::retry_wait);
    EXPECT_GE(h.sources()[0].retry_at, clock.now() + 9min);
    EXPECT_EQ(server.connections(), connections);
    EXPECT_EQ(logged("given up"), 1);
    // A few pieces' worth of wrong bytes, not the game's, with three
    // connections (requests pipelined before the end included).
    EXPECT_LE(server.requests().size(), 16u);

    // Once the files are right and the time is out, it completes.
    wrong = false;
    clock.advance(10min + 1s);
    ASSERT_TRUE(complete(h)) << log_text();
}

TEST_F(SourceTickFaults, ServiceUnavailableWaitsForRetryAfter)
{
    std::atomic<bool> busy{true};
    server.set_script([&](test::http_request const&) -> std::optional<std::vector<std::string>> {
        if (!busy) return std::nullopt;
        return std::vector<std::string>{test::http_test_server::status(503, "Service Unavailable", "Retry-After: 120\r\n")};
    });
    torrent_handle h = add_game(3);
    ASSERT_TRUE(wait_until([&] {
        auto const s = h.sources();
        return std::all_of(s.begin(), s.end(), [](direct_http_source const& x) { return x.state == state::retry_wait; });
    }, 10s));
    time_point const until = h.sources()[0].retry_at;
    EXPECT_GE(until, clock.now() + 119s); // the server's 120 s, not urlseed_wait_retry's 30
    // The rule's source for the same URL waits too; nobody asks meanwhile.
    h.add_url_seed(server.url("/big.bin"));
    clock.advance(119s);
    passes(2);
    EXPECT_EQ(server.connections(), 3);
    for (auto const& s : h.sources()) {
        EXPECT_EQ(s.state, state::retry_wait);
        EXPECT_EQ(s.retry_at, until);
    }
    busy = false;
    clock.advance(2s);
    ASSERT_TRUE(complete(h));
}

TEST_F(SourceTickFaults, StalledConnectionGivesItsPiecesBack)
{
    // The first connection trickles 200 bytes a second; a new one is fast.
    server.set_script([&](test::http_request const& r) -> std::optional<std::vector<std::string>> {
        if (r.connection != 0) return std::nullopt;
        std::string const full = server.serve(r);
        std::vector<std::string> drip;
        for (std::size_t i = 0; i < full.size(); i += 6) drip.push_back(full.substr(i, 6));
        return drip;
    });
    torrent_handle h = add_game(1);
    ASSERT_TRUE(wait_until([&] { return !server.requests().empty(); }, 10s));
    passes(2);
    EXPECT_EQ(logged("no block in 60 s"), 0);
    clock.advance(61s);
    ASSERT_TRUE(complete(h));
    EXPECT_EQ(logged("no block in 60 s"), 1);
    EXPECT_EQ(server.connections(), 2);
}

} // namespace
} // namespace tg
