// Whole downloads from Direct-HTTP sources alone against nginx's own range
// and keep-alive serving, several connections to one URL, every byte checked.
#include "engine/direct_http_engine.hpp"
#include "engine_fixture.hpp"
#include "nginx_server.hpp"
#include "session_fixture.hpp"
#include "tls_test_certs.hpp"

#include <libtorrent/torrent_status.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>

namespace tg {
namespace {

using namespace std::chrono_literals;

class DirectHttpNginx : public ::testing::Test
{
protected:
    test::temp_dir served{"served"};
    test::temp_dir leech{"leech"};
    lt::session session{test::with_file_disk_io(test::loopback_settings())};
    direct_http_engine engine{session};
    std::string error_log; // nginx's, kept after it stops

    // Before the component makes its TLS context.
    static void SetUpTestSuite() { ASSERT_TRUE(test::trust_test_ca()); }

    bool download(std::vector<char> const& file, std::string const& url, int connections, bool tls = false)
    {
        std::optional<test::nginx_server> server;
        if (tls)
            server.emplace(TG_NGINX, served.path(), test::test_cert("server.pem"), test::test_cert("server.key"));
        else
            server.emplace(TG_NGINX, served.path());
        test::nginx_server& nginx = *server;
        if (!nginx.running()) {
            ADD_FAILURE() << "nginx did not start";
            return false;
        }
        torrent_handle h = test::add_with_sources(engine, file, leech.path(),
            std::vector<std::string>(std::size_t(connections), nginx.url(url)));
        test::wait_until([&] { return h.status().is_seeding; }, 120s);
        // Every source was connected and has its own row and traffic.
        std::vector<peer_record> rows;
        lt::torrent_status st;
        EXPECT_TRUE(test::settled_rows(h, rows, st));
        std::set<std::int32_t> ids;
        std::int64_t sum = 0;
        for (auto const& r : rows) {
            ids.insert(r.source_id);
            sum += r.total_download;
        }
        error_log = nginx.error_log();
        EXPECT_TRUE(st.is_seeding) << error_log;
        EXPECT_EQ(h.num_url_seeds(), connections);
        EXPECT_EQ(int(ids.size()), connections);
        EXPECT_EQ(sum, st.total_payload_download);
        EXPECT_GE(st.total_payload_download, st.total_wanted);
        engine.remove_torrent(h);
        return st.is_seeding;
    }
};

TEST_F(DirectHttpNginx, SingleFileFromFourConnections)
{
    auto const file = test::make_torrent(served.path(), "game.bin", {{"", 24 * 1024 * 1024 + 4321}}, 256 * 1024);
    ASSERT_TRUE(download(file, "/game.bin", 4));
    // The removed torrent's last writes land in the disk I/O's time.
    test::wait_until([&] { return test::read_file(leech / "game.bin") == test::read_file(served / "game.bin"); }, 10s);
    EXPECT_EQ(test::read_file(leech / "game.bin"), test::read_file(served / "game.bin"));
}

TEST_F(DirectHttpNginx, MultiFileFromThreeConnections)
{
    std::vector<test::test_file> const files = {
        {"data/tr\xc3\xb2 ch\xc6\xa1i.pak", 5 * 1024 * 1024 + 17}, {"readme.txt", 999}, {"bin/game.exe", 3 * 1024 * 1024 + 1}};
    auto const file = test::make_torrent(served.path(), "Game", files, 128 * 1024);
    ASSERT_TRUE(download(file, "/", 3));
    auto const same = [&](test::test_file const& f) {
        return test::read_file(leech / ("Game/" + f.path)) == test::read_file(served / ("Game/" + f.path));
    };
    test::wait_until([&] { return std::all_of(files.begin(), files.end(), same); }, 10s);
    for (auto const& f : files)
        EXPECT_TRUE(same(f)) << f.path;
}

TEST_F(DirectHttpNginx, MultiFileOverTlsFromThreeConnections)
{
    std::vector<test::test_file> const files = {
        {"data/tr\xc3\xb2 ch\xc6\xa1i.pak", 5 * 1024 * 1024 + 17}, {"readme.txt", 999}, {"bin/game.exe", 3 * 1024 * 1024 + 1}};
    auto const file = test::make_torrent(served.path(), "Game", files, 128 * 1024);
    ASSERT_TRUE(download(file, "/", 3, true));
    auto const same = [&](test::test_file const& f) {
        return test::read_file(leech / ("Game/" + f.path)) == test::read_file(served / ("Game/" + f.path));
    };
    test::wait_until([&] { return std::all_of(files.begin(), files.end(), same); }, 10s);
    for (auto const& f : files)
        EXPECT_TRUE(same(f)) << f.path;
}

TEST_F(DirectHttpNginx, HybridTorrentWithPadFiles)
{
    // The engine's default torrent: each file padded to the next piece with
    // pad files, which are not on the server and never asked for.
    std::vector<test::test_file> const files = {{"data/big.pak", 5 * 1024 * 1024 + 17}, {"readme.txt", 999},
        {"bin/game.exe", 3 * 1024 * 1024 + 1}, {"data/tail.bin", 64 * 1024 + 5}};
    auto const file = test::make_torrent(served.path(), "Game", files, 64 * 1024, {}, lt::create_flags_t{});
    lt::torrent_info const ti(file, lt::from_span);
    int pads = 0;
    for (auto const i : ti.files().file_range()) pads += ti.files().pad_file_at(i) ? 1 : 0;
    ASSERT_GE(pads, 3) << "the torrent has no pad files";
    ASSERT_TRUE(download(file, "/", 3));
    EXPECT_EQ(error_log.find(".pad"), std::string::npos) << error_log;
    auto const same = [&](test::test_file const& f) {
        return test::read_file(leech / ("Game/" + f.path)) == test::read_file(served / ("Game/" + f.path));
    };
    test::wait_until([&] { return std::all_of(files.begin(), files.end(), same); }, 10s);
    for (auto const& f : files)
        EXPECT_TRUE(same(f)) << f.path;
}

} // namespace
} // namespace tg
