// Whole downloads from Direct-HTTP sources alone, against our scriptable
// server on 127.0.0.1: every byte checked, the request texts captured, and
// each response path seen through a real connection.
#include "engine/direct_http_engine.hpp"
#include "http_test_server.hpp"
#include "session_fixture.hpp"

#include <libtorrent/torrent_status.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tg {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool wait_until(Pred pred, std::chrono::seconds limit)
{
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

class DirectHttpTransfer : public ::testing::Test
{
protected:
    test::temp_dir served{"served"};
    test::temp_dir leech{"leech"};
    test::http_test_server server{served.path()};
    std::vector<std::string> log;
    std::mutex log_mutex;
    lt::session session{settings()};
    direct_http_engine engine{session};

    static lt::settings_pack settings()
    {
        lt::settings_pack s = test::loopback_settings();
        s.set_int(lt::settings_pack::urlseed_wait_retry, 0);
        s.set_str(lt::settings_pack::user_agent, "Tollgrove-test");
        return s;
    }

    void SetUp() override
    {
        engine.set_log([this](std::string const& line) {
            std::lock_guard<std::mutex> l(log_mutex);
            log.push_back(line);
        });
    }

    torrent_handle add(std::vector<char> const& file, std::vector<std::string> const& urls)
    {
        lt::add_torrent_params atp;
        atp.ti = std::make_shared<lt::torrent_info>(file, lt::from_span);
        atp.save_path = leech.path().u8string();
        atp.flags |= lt::torrent_flags::paused | lt::torrent_flags::auto_managed;
        torrent_handle h = engine.add_torrent(atp, file);
        for (auto const& u : urls) h.add_url_seed(u);
        return h;
    }

    bool complete(torrent_handle const& h, std::chrono::seconds limit = 60s)
    {
        return wait_until([&] { return h.status().is_seeding; }, limit);
    }

    void expect_same_files(std::string const& rel)
    {
        EXPECT_EQ(test::read_file(leech / rel), test::read_file(served / rel)) << rel;
    }

    std::string log_text()
    {
        std::lock_guard<std::mutex> l(log_mutex);
        std::string s;
        for (auto const& line : log) s += line + "\n";
        return s;
    }
};

TEST_F(DirectHttpTransfer, SingleFileWithSeveralConnectionsToOneUrl)
{
    auto const file = test::make_torrent(served.path(), "game.bin", {{"", 3 * 1024 * 1024 + 777}}, 64 * 1024);
    torrent_handle h = add(file, {server.url("/game.bin"), server.url("/game.bin"), server.url("/game.bin")});
    ASSERT_TRUE(complete(h)) << log_text();
    expect_same_files("game.bin");
    EXPECT_EQ(h.num_url_seeds(), 3);
    EXPECT_GE(server.connections(), 3);

    // The first request of each connection carries the User-Agent, the later
    // ones do not; every one asks for a whole piece.
    auto const reqs = server.requests();
    ASSERT_FALSE(reqs.empty());
    std::set<int> seen;
    for (auto const& r : reqs) {
        bool const first = seen.insert(r.connection).second;
        EXPECT_EQ(r.text.find("\r\nUser-Agent: Tollgrove-test\r\n") != std::string::npos, first) << r.text;
        EXPECT_EQ(r.text.compare(0, 29, "GET /game.bin HTTP/1.1\r\nHost:"), 0) << r.text;
        EXPECT_NE(r.text.find("\r\nConnection: keep-alive\r\n\r\n"), std::string::npos) << r.text;
    }

    lt::torrent_status const st = h.status();
    EXPECT_GE(st.total_payload_download, std::int64_t(3 * 1024 * 1024 + 777));
    EXPECT_GT(st.total_download, st.total_payload_download);
    std::vector<peer_record> rows;
    h.get_peer_info(rows);
    std::int64_t sum = 0;
    for (auto const& r : rows) {
        EXPECT_GE(r.source_id, 1);
        EXPECT_EQ(r.connection_type, lt::peer_info::web_seed);
        EXPECT_EQ(r.client, "Direct HTTP");
        sum += r.total_download;
    }
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(sum, st.total_payload_download);
}

TEST_F(DirectHttpTransfer, MultiFileWithBlocksAcrossFileBoundaries)
{
    auto const file = test::make_torrent(served.path(), "Game",
        {{"data/a b.pak", 300001}, {"c.bin", 5}, {"sub/d.bin", 700003}}, 32 * 1024);
    torrent_handle h = add(file, {server.url("/"), server.url("")});
    ASSERT_TRUE(complete(h)) << log_text();
    expect_same_files("Game/data/a b.pak");
    expect_same_files("Game/c.bin");
    expect_same_files("Game/sub/d.bin");
    for (auto const& r : server.requests())
        EXPECT_TRUE(r.target == "/Game/data/a%20b.pak" || r.target == "/Game/c.bin" || r.target == "/Game/sub/d.bin")
            << r.target;
}

} // namespace
} // namespace tg
