// Downloads one file from HTTP sources alone through the Direct-HTTP
// component and prints three figures: wall seconds in all, wall seconds from
// the first payload byte (sources connect at the component's next
// once-a-second tick, up to a second after they are added), CPU seconds.
//   direct_http_bench FILE URL CONNECTIONS WORKDIR
// FILE is the served file (its .torrent is made from it), URL where the
// server serves it; the copy lands in WORKDIR.
//   direct_http_bench --swarm TORRENT WORKDIR PORT...
// The same figures for a download from seeding peers on 127.0.0.1 alone.
#include "engine/direct_http_engine.hpp"
#include "engine/file_disk_io.hpp"
#include "engine/load_file.hpp"
#include "session_options.h"

#include <libtorrent/address.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/torrent_status.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <thread>

#include "bench/process_cpu.hpp"
#include "tests/support/torrent_maker.hpp"

using tg::bench::cpu_seconds;

int main(int argc, char** argv)
{
    bool const swarm = argc >= 5 && std::string(argv[1]) == "--swarm";
    if (!swarm && argc != 5) {
        std::fprintf(stderr, "usage: %s FILE URL CONNECTIONS WORKDIR\n       %s --swarm TORRENT WORKDIR PORT...\n",
                     argv[0], argv[0]);
        return 2;
    }
    std::filesystem::path const work = swarm ? argv[3] : argv[4];

    std::vector<char> buf;
    if (swarm) {
        if (tg::load_file(argv[2], buf) != 0) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 2;
        }
    } else {
        std::filesystem::path const file = argv[1];
        lt::file_storage fs;
        lt::add_files(fs, file.string());
        buf = tg::test::bencoded_torrent(fs, file.parent_path(), 1024 * 1024);
    }

    // The program's session (loopback only, the options' defaults), so that
    // the figures are of the session it makes; on top, any free port, so
    // that the run never waits for the program's, and no DHT, which a
    // download from given sources does not use.
    lt::settings_pack s = tollgrove::MakeSessionSettings(tollgrove::SessionOptions{}, true);
    s.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    s.set_bool(lt::settings_pack::enable_dht, false);
    lt::session_params params(s);
    params.disk_io_constructor = tg::file_disk_io_constructor;
    lt::session session(std::move(params));
    tg::direct_http_engine engine(session);

    lt::add_torrent_params atp;
    atp.ti = std::make_shared<lt::torrent_info>(buf, lt::from_span);
    atp.save_path = work.string();
    double const cpu0 = cpu_seconds();
    auto const t0 = std::chrono::steady_clock::now();
    tg::torrent_handle h = engine.add_torrent(atp, buf);
    if (swarm) {
        for (int i = 4; i < argc; ++i)
            h.native_handle().connect_peer(
                lt::tcp::endpoint(lt::make_address_v4("127.0.0.1"), static_cast<unsigned short>(std::atoi(argv[i]))));
    } else {
        for (int i = 0; i < std::atoi(argv[3]); ++i)
            h.add_url_seed(argv[2]);
    }
    auto const deadline = t0 + std::chrono::minutes(10);
    std::chrono::steady_clock::time_point first{};
    for (;;) {
        lt::torrent_status const st = h.status();
        if (first == std::chrono::steady_clock::time_point{} && st.total_payload_download > 0)
            first = std::chrono::steady_clock::now();
        if (st.is_seeding)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "timed out\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    auto const t1 = std::chrono::steady_clock::now();
    double const wall = std::chrono::duration<double>(t1 - t0).count();
    double const transfer = std::chrono::duration<double>(t1 - first).count();
    double const cpu = cpu_seconds() - cpu0;
    std::printf("%.3f %.3f %.3f\n", wall, transfer, cpu);
    return 0;
}
