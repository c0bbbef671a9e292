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
#include <random>
#include <thread>

namespace lt = libtorrent;

namespace {

lt::settings_pack LoopbackSettings()
{
    lt::settings_pack s = tg::test::loopback_settings();
    s.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    s.set_int(lt::settings_pack::alert_mask, lt::alert_category::error | lt::alert_category::status);
    return s;
}

} // namespace

TEST(SwarmTransfer, TwoSessionsOnLoopbackTransferATorrent)
{
    const tg::test::temp_dir seedDir("seed");
    const tg::test::temp_dir leechDir("leech");
    const char* name = "payload.bin";

    std::vector<char> data(3 * 1024 * 1024 + 12345);
    std::mt19937 gen(7);
    for (auto& c : data) c = static_cast<char>(gen());
    tg::test::write_file(seedDir / name, data);

    lt::file_storage fsto;
    lt::add_files(fsto, (seedDir / name).string());
    lt::create_torrent ct(fsto, 64 * 1024);
    lt::set_piece_hashes(ct, seedDir.path().string());
    std::vector<char> buf;
    lt::bencode(std::back_inserter(buf), ct.generate());
    auto ti = std::make_shared<lt::torrent_info>(buf, lt::from_span);

    lt::session seeder(tg::test::with_file_disk_io(LoopbackSettings()));
    lt::session leecher(tg::test::with_file_disk_io(LoopbackSettings()));

    lt::add_torrent_params sp;
    sp.ti = ti;
    sp.save_path = seedDir.path().string();
    lt::torrent_handle seed = seeder.add_torrent(sp);

    lt::add_torrent_params lp;
    lp.ti = ti;
    lp.save_path = leechDir.path().string();
    lt::torrent_handle leech = leecher.add_torrent(lp);

    // Wait for the seeder to finish checking and to listen.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    ASSERT_TRUE(tg::test::wait_until([&] { return seed.status().is_seeding; }, std::chrono::seconds(60)));
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

    // The removal closes the files; what landed is the payload.
    leecher.remove_torrent(leech);
    seeder.remove_torrent(seed);
    EXPECT_TRUE(tg::test::wait_until([&] { return tg::test::read_file(leechDir / name) == data; }, std::chrono::seconds(10)));
}
