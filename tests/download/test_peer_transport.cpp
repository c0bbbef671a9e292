// A session with the program's settings downloads from a stock libtorrent
// peer (which speaks uTP and tries it first) over TCP alone, and takes no
// uTP connection from it: no connection of either session is a uTP one.
// Each of the program session's peer sockets, dialled or taken, has the
// fixed receive buffer, not one the system tunes up without bound.
#include <gtest/gtest.h>

#include "../engine/session_fixture.hpp"
#include "../support/process_tcp_sockets.hpp"
#include "session_options.h"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// A stock engine session on 127.0.0.1: the engine's defaults, uTP both ways.
lt::settings_pack StockPeerSettings()
{
    lt::settings_pack s;
    s.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    s.set_bool(lt::settings_pack::enable_dht, false);
    s.set_bool(lt::settings_pack::enable_lsd, false);
    s.set_bool(lt::settings_pack::enable_upnp, false);
    s.set_bool(lt::settings_pack::enable_natpmp, false);
    s.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    return s;
}

struct PeersSeen {
    int tcp = 0;
    std::vector<std::string> utp; // endpoints of uTP connections made
};

void Look(lt::torrent_handle const& h, PeersSeen& seen)
{
    std::vector<lt::peer_info> peers;
    h.get_peer_info(peers);
    for (auto const& p : peers) {
        // An attempt still connecting, or a socket whose BitTorrent
        // handshake has not come through, is no connection yet: a uTP
        // attempt at a session that takes none gets its transport answered
        // (the UDP socket is there for the DHT) before the session closes it.
        if (p.flags & (lt::peer_info::connecting | lt::peer_info::handshake)) continue;
        if (p.flags & lt::peer_info::utp_socket)
            seen.utp.push_back(p.ip.address().to_string() + ":" + std::to_string(p.ip.port()));
        else
            ++seen.tcp;
    }
}

// The stock seed of a test payload beside a session with the program's
// settings (only its port is any free one, so tests run side by side) that
// has the torrent and none of its data.
struct Pair {
    explicit Pair(lt::settings_pack stockSettings)
        : stock(tg::test::with_file_disk_io(std::move(stockSettings)))
        , program(tg::test::with_file_disk_io(ProgramSettings()))
    {
        // Several MiB, so the transfer lasts across many looks at the peers.
        auto const buf = tg::test::make_torrent(seedDir.path(), "payload.bin", {{"", 6 * 1024 * 1024 + 4321}},
            64 * 1024);
        ti = std::make_shared<lt::torrent_info>(buf, lt::from_span);
        lt::add_torrent_params sp;
        sp.ti = ti;
        sp.save_path = seedDir.path().string();
        seed = stock.add_torrent(sp);
        lt::add_torrent_params lp;
        lp.ti = ti;
        lp.save_path = leechDir.path().string();
        leech = program.add_torrent(lp);
    }

    static lt::settings_pack ProgramSettings()
    {
        lt::settings_pack s = tollgrove::MakeSessionSettings(tollgrove::SessionOptions{}, true);
        s.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
        return s;
    }

    lt::tcp::endpoint StockEndpoint() const { return {lt::make_address("127.0.0.1"), stock.listen_port()}; }
    lt::tcp::endpoint ProgramEndpoint() const { return {lt::make_address("127.0.0.1"), program.listen_port()}; }

    tg::test::temp_dir seedDir{"tcp-seed"}, leechDir{"tcp-leech"};
    lt::session stock, program;
    std::shared_ptr<lt::torrent_info> ti;
    lt::torrent_handle seed, leech;
    PeersSeen seenByProgram, seenByStock;
};

} // namespace

TEST(PeerTransport, ProgramSessionDownloadsFromAStockPeerOverTcp)
{
    Pair p(StockPeerSettings());
    ASSERT_TRUE(tg::test::wait_until([&] { return p.seed.status().is_seeding; }, std::chrono::seconds(60)));
    ASSERT_GT(p.stock.listen_port(), 0);
    // The stock peer says it speaks uTP: the engine's default would dial it
    // over uTP first.
    p.leech.connect_peer(p.StockEndpoint());
    bool const done = tg::test::wait_until([&] {
        Look(p.leech, p.seenByProgram);
        Look(p.seed, p.seenByStock);
        lt::torrent_status const st = p.leech.status();
        if (!st.is_seeding && st.num_peers == 0) p.leech.connect_peer(p.StockEndpoint());
        return st.is_seeding;
    }, std::chrono::seconds(90));
    lt::torrent_status const st = p.leech.status();
    ASSERT_TRUE(done) << "progress " << st.progress << " peers " << st.num_peers;
    EXPECT_GE(st.total_payload_download, p.ti->total_size());
    EXPECT_GT(p.seenByProgram.tcp, 0);
    EXPECT_GT(p.seenByStock.tcp, 0);
    EXPECT_TRUE(p.seenByProgram.utp.empty()) << "uTP peer " << p.seenByProgram.utp.front();
    EXPECT_TRUE(p.seenByStock.utp.empty()) << "uTP peer " << p.seenByStock.utp.front();
}

TEST(PeerTransport, ProgramSessionTakesNoIncomingUtp)
{
    // A stock peer that dials over uTP alone, and gives up on a connection
    // that does not answer within a few seconds.
    lt::settings_pack s = StockPeerSettings();
    s.set_bool(lt::settings_pack::enable_outgoing_tcp, false);
    s.set_int(lt::settings_pack::peer_connect_timeout, 3);
    s.set_int(lt::settings_pack::alert_mask, lt::alert_category::connect | lt::alert_category::peer | lt::alert_category::error);
    Pair p(s);
    ASSERT_TRUE(tg::test::wait_until([&] { return p.seed.status().is_seeding; }, std::chrono::seconds(60)));
    ASSERT_GT(p.program.listen_port(), 0);
    p.seed.connect_peer(p.ProgramEndpoint());

    // Until the stock peer's attempt ends, or a uTP connection forms (the
    // fault: it would then go on to transfer the payload).
    bool attemptEnded = false;
    tg::test::wait_until([&] {
        Look(p.leech, p.seenByProgram);
        Look(p.seed, p.seenByStock);
        std::vector<lt::alert*> alerts;
        p.stock.pop_alerts(&alerts);
        for (lt::alert const* a : alerts)
            if (lt::alert_cast<lt::peer_disconnected_alert>(a) || lt::alert_cast<lt::peer_error_alert>(a))
                attemptEnded = true;
        return attemptEnded || !p.seenByProgram.utp.empty() || !p.seenByStock.utp.empty();
    }, std::chrono::seconds(60));
    EXPECT_TRUE(p.seenByProgram.utp.empty()) << "uTP peer " << p.seenByProgram.utp.front();
    EXPECT_TRUE(p.seenByStock.utp.empty()) << "uTP peer " << p.seenByStock.utp.front();
    EXPECT_TRUE(attemptEnded) << "the stock peer's uTP attempt neither ended nor connected";
    EXPECT_EQ(p.leech.status().total_payload_download, 0);
}

namespace {

// SO_RCVBUF as the system reports it once `set` was asked for: Linux caps
// the request at net.core.rmem_max and reports twice that (the other half
// is its bookkeeping); Windows reports what was set.
int ReportedReceiveBuffer(int set)
{
#ifdef _WIN32
    return set;
#else
    int rmemMax = set;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    return 2 * std::min(set, rmemMax);
#endif
}

struct SocketCase {
    const char* name;
    bool programDials; // else the stock peer dials the program
};

class PeerSocketBuffer : public ::testing::TestWithParam<SocketCase> {};

} // namespace

TEST_P(PeerSocketBuffer, ProgramPeerSocketHasTheFixedReceiveBuffer)
{
    // The stock peer dials over TCP: a uTP attempt at the program would
    // only wait out its time-out first.
    lt::settings_pack stockSettings = StockPeerSettings();
    stockSettings.set_bool(lt::settings_pack::enable_outgoing_utp, false);
    Pair p(stockSettings);
    ASSERT_TRUE(tg::test::wait_until([&] { return p.seed.status().is_seeding; }, std::chrono::seconds(60)));
    // Held back, so the connection lasts until it has been looked at.
    p.leech.set_download_limit(64 * 1024);
    std::string const stock = "127.0.0.1:" + std::to_string(p.stock.listen_port());
    std::uint16_t const programPort = p.program.listen_port();
    auto const programSocket = [&](tg::test::tcp_socket_seen const& s) {
        return GetParam().programDials ? s.peer == stock
                                       : s.local_port == programPort && s.peer.rfind("127.0.0.1:", 0) == 0;
    };

    std::vector<tg::test::tcp_socket_seen> found;
    bool const connected = tg::test::wait_until([&] {
        if (GetParam().programDials)
            p.leech.connect_peer(p.StockEndpoint());
        else
            p.seed.connect_peer(p.ProgramEndpoint());
        PeersSeen seen;
        Look(p.leech, seen);
        if (seen.tcp == 0)
            return false;
        found.clear();
        for (auto const& s : tg::test::process_tcp_sockets())
            if (programSocket(s))
                found.push_back(s);
        return !found.empty();
    }, std::chrono::seconds(60));
    if (!connected) {
        std::string all;
        for (auto const& s : tg::test::process_tcp_sockets())
            all += " " + std::to_string(s.local_port) + "->" + s.peer;
        FAIL() << "no program socket among:" << all;
    }
    for (auto const& s : found)
        EXPECT_EQ(s.receive_buffer, ReportedReceiveBuffer(tollgrove::kPeerReceiveBuffer))
            << "program socket on port " << s.local_port << " to " << s.peer;
}

INSTANTIATE_TEST_SUITE_P(BothDirections, PeerSocketBuffer,
    ::testing::Values(SocketCase{"ProgramDials", true}, SocketCase{"StockPeerDials", false}),
    [](const ::testing::TestParamInfo<SocketCase>& i) { return std::string(i.param.name); });
