// Two real engine sessions on 127.0.0.1 transfer a torrent peer to peer.
// In the Windows build this proves the dependency build end to end: with
// mismatched class layouts the peers misread each other's handshakes.
#include <gtest/gtest.h>

#include "session_fixture.hpp"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace fs = std::filesystem;
namespace lt = libtorrent;

namespace {

fs::path MakeTempDir(const char* tag)
{
    std::random_device rd;
    fs::path p = fs::temp_directory_path() / (std::string("tg-") + tag + "-" + std::to_string(rd()));
    fs::create_directories(p);
    return p;
}

lt::settings_pack LoopbackSettings()
{
    lt::settings_pack s = tg::test::loopback_settings();
    s.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    s.set_int(lt::settings_pack::alert_mask, lt::alert_category::error | lt::alert_category::status);
    return s;
}

std::vector<char> ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(SwarmTransfer, TwoSessionsOnLoopbackTransferATorrent)
{
    const fs::path seedDir = MakeTempDir("seed");
    const fs::path leechDir = MakeTempDir("leech");
    const char* name = "payload.bin";

    std::vector<char> data(3 * 1024 * 1024 + 12345);
    std::mt19937 gen(7);
    for (auto& c : data) c = static_cast<char>(gen());
    std::ofstream(seedDir / name, std::ios::binary).write(data.data(), std::streamsize(data.size()));

    lt::file_storage fsto;
    lt::add_files(fsto, (seedDir / name).string());
    lt::create_torrent ct(fsto, 64 * 1024);
    lt::set_piece_hashes(ct, seedDir.string());
    std::vector<char> buf;
    lt::bencode(std::back_inserter(buf), ct.generate());
    auto ti = std::make_shared<lt::torrent_info>(buf, lt::from_span);

    lt::session seeder(tg::test::with_file_disk_io(LoopbackSettings()));
    lt::session leecher(tg::test::with_file_disk_io(LoopbackSettings()));

    lt::add_torrent_params sp;
    sp.ti = ti;
    sp.save_path = seedDir.string();
    lt::torrent_handle seed = seeder.add_torrent(sp);

    lt::add_torrent_params lp;
    lp.ti = ti;
    lp.save_path = leechDir.string();
    lt::torrent_handle leech = leecher.add_torrent(lp);

    // Wait for the seeder to finish checking and to listen.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!seed.status().is_seeding && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(seed.status().is_seeding);
    ASSERT_GT(seeder.listen_port(), 0);

    leech.connect_peer(lt::tcp::endpoint(lt::make_address("127.0.0.1"), seeder.listen_port()));
    while (!leech.status().is_seeding && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (leech.status().num_peers == 0)
            leech.connect_peer(lt::tcp::endpoint(lt::make_address("127.0.0.1"), seeder.listen_port()));
    }
    lt::torrent_status st = leech.status();
    ASSERT_TRUE(st.is_seeding) << "progress " << st.progress << " peers " << st.num_peers;
    EXPECT_GE(st.total_payload_download, std::int64_t(data.size()));

    leecher.remove_torrent(leech);
    seeder.remove_torrent(seed);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ReadAll(leechDir / name), data);

    std::error_code ec;
    fs::remove_all(seedDir, ec);
    fs::remove_all(leechDir, ec);
}
