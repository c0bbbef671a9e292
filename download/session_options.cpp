#include "session_options.h"

#include <libtorrent/alert.hpp>
#include <libtorrent/fingerprint.hpp>

#include <limits>
#include <sstream>

#ifndef TG_DHT_ROUTERS
#define TG_DHT_ROUTERS ""
#endif

namespace tollgrove {

namespace {

void ReadKey(const OptionReader& read, const wchar_t* key, std::int32_t& target)
{
    const std::int32_t v = read(key);
    if (v != 0)
        target = v;
}

void ReadKey(const OptionReader& read, const wchar_t* key, double& target)
{
    const std::int32_t v = read(key);
    if (v != 0)
        target = static_cast<double>(v);
}

} // namespace

SessionOptions ReadSessionOptions(const OptionReader& read)
{
    SessionOptions o;
    if (!read)
        return o;
    ReadKey(read, L"peer_connect_timeout", o.peerConnectTimeout);
    ReadKey(read, L"piece_timeout", o.pieceTimeout);
    ReadKey(read, L"request_timeout", o.requestTimeout);
    ReadKey(read, L"peer_timeout", o.peerTimeout);
    ReadKey(read, L"handshake_timeout", o.handshakeTimeout);
    ReadKey(read, L"tracker_completion_timeout", o.trackerCompletionTimeout);
    ReadKey(read, L"urlseed_wait_retry", o.urlseedWaitRetry);
    ReadKey(read, L"urlseed_timeout", o.urlseedTimeout);
    ReadKey(read, L"share_ratio_limit", o.shareRatioLimit);
    ReadKey(read, L"seed_time_ratio_limit", o.seedTimeRatioLimit);
    ReadKey(read, L"connection_speed", o.connectionSpeed);
    ReadKey(read, L"allowed_fast_set_size", o.allowedFastSetSize);
    ReadKey(read, L"send_buffer_watermark", o.sendBufferWatermark);
    ReadKey(read, L"active_downloads", o.activeDownloads);
    ReadKey(read, L"active_seeds", o.activeSeeds);
    ReadKey(read, L"active_limit", o.activeLimit);
    ReadKey(read, L"max_allowed_in_request_queue", o.maxAllowedInRequestQueue);
    ReadKey(read, L"set_max_uploads", o.limits.maxUploads);
    ReadKey(read, L"set_max_conections", o.limits.maxConnections);
    ReadKey(read, L"set_max_half_open_connections", o.limits.maxHalfOpen);
    ReadKey(read, L"set_download_rate_limit", o.limits.downloadRateLimit);
    ReadKey(read, L"set_upload_rate_limit", o.limits.uploadRateLimit);
    ReadKey(read, L"PortListen", o.limits.listenPort);
    return o;
}

std::vector<std::string> DhtRouterHosts()
{
    std::vector<std::string> hosts;
    std::stringstream in(TG_DHT_ROUTERS);
    std::string h;
    while (std::getline(in, h, ';'))
        if (!h.empty())
            hosts.push_back(h);
    return hosts;
}

int EngineRateLimit(std::int32_t limit)
{
    return limit <= 0 ? 0 : limit;
}

int EngineRatio(double ratio)
{
    const double scaled = ratio * 100.0;
    if (scaled >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (scaled <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(scaled);
}

lt::settings_pack MakeSessionSettings(const SessionOptions& o, bool loopbackOnly)
{
    using sp = lt::settings_pack;
    sp s;
    s.set_str(sp::user_agent, "Tollgrove 3.0");
    s.set_int(sp::outgoing_port, 0);
    s.set_int(sp::num_outgoing_ports, 0);
    s.set_str(sp::peer_fingerprint, lt::generate_fingerprint("LT", 0, 15, 0, 0));

    s.set_int(sp::peer_connect_timeout, o.peerConnectTimeout);
    s.set_int(sp::piece_timeout, o.pieceTimeout);
    s.set_int(sp::request_timeout, o.requestTimeout);
    s.set_int(sp::peer_timeout, o.peerTimeout);
    s.set_int(sp::handshake_timeout, o.handshakeTimeout);
    s.set_int(sp::tracker_completion_timeout, o.trackerCompletionTimeout);
    s.set_int(sp::urlseed_wait_retry, o.urlseedWaitRetry);
    s.set_int(sp::urlseed_timeout, o.urlseedTimeout);
    s.set_int(sp::share_ratio_limit, EngineRatio(o.shareRatioLimit));
    s.set_int(sp::seed_time_ratio_limit, EngineRatio(o.seedTimeRatioLimit));
    s.set_int(sp::connection_speed, o.connectionSpeed);
    s.set_int(sp::allowed_fast_set_size, o.allowedFastSetSize);
    s.set_int(sp::send_buffer_watermark, o.sendBufferWatermark);
    s.set_int(sp::active_downloads, o.activeDownloads);
    s.set_int(sp::active_seeds, o.activeSeeds);
    s.set_int(sp::active_limit, o.activeLimit);
    s.set_int(sp::max_allowed_in_request_queue, o.maxAllowedInRequestQueue);

    s.set_int(sp::unchoke_slots_limit, o.limits.maxUploads);
    s.set_int(sp::connections_limit, o.limits.maxConnections);
    s.set_int(sp::download_rate_limit, EngineRateLimit(o.limits.downloadRateLimit));
    s.set_int(sp::upload_rate_limit, EngineRateLimit(o.limits.uploadRateLimit));

    const std::string port = std::to_string(o.limits.listenPort);
    s.set_str(sp::listen_interfaces, (loopbackOnly ? "127.0.0.1:" : "0.0.0.0:") + port);
    s.set_int(sp::max_retry_port_bind, 10);
    s.set_int(sp::alert_mask, lt::alert_category::storage);

    s.set_int(sp::dht_max_peers_reply, 50);
    s.set_int(sp::dht_search_branching, 5);
    s.set_int(sp::dht_max_fail_count, 20);
    std::string nodes;
    // A loopback-only session keeps its DHT (its state is still saved and
    // read back) but knows no router, so it sends nothing beyond 127.0.0.1.
    for (const auto& h : loopbackOnly ? std::vector<std::string>() : DhtRouterHosts())
        nodes += (nodes.empty() ? "" : ",") + h + ":" + std::to_string(kDhtRouterPort);
    s.set_str(sp::dht_bootstrap_nodes, nodes);

    s.set_bool(sp::enable_upnp, !loopbackOnly);
    s.set_bool(sp::enable_natpmp, !loopbackOnly);
    s.set_bool(sp::enable_lsd, !loopbackOnly);
    s.set_bool(sp::enable_dht, true);
    // Peers over TCP only, both ways. The engine would otherwise try uTP
    // first with every peer: under Wine each of its datagrams costs a
    // receive and wineserver requests, and at the system's UDP receive
    // buffer losses make senders back off, so a swarm ran twenty times
    // slower than over TCP.
    s.set_bool(sp::enable_outgoing_utp, false);
    s.set_bool(sp::enable_incoming_utp, false);
    // The engine moves all that a peer's socket holds into that peer's
    // receive buffer in one read. Left to the system, a socket's buffer
    // tunes itself up to tens of MiB over a long fast transfer, so this
    // 32-bit process grew with the length of the download; fixed, it is
    // bounded by the number of peers. A peer still carries 20 MiB/s at a
    // 50 ms round trip, and the file server's connections are not peers.
    s.set_int(sp::recv_socket_buffer_size, kPeerReceiveBuffer);
    if (loopbackOnly)
        s.set_bool(sp::allow_multiple_connections_per_ip, true);
    return s;
}

} // namespace tollgrove
