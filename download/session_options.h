// The option file's tuning values and how they become engine settings.
// Portable: the profile read is passed in, so the rules are tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>

namespace tollgrove {

struct SessionLimits {
    std::int32_t maxUploads = 45;
    std::int32_t maxConnections = 50;
    std::int32_t maxHalfOpen = 10;
    std::int32_t downloadRateLimit = -1;
    std::int32_t uploadRateLimit = -1;
    std::int32_t listenPort = 22000;
};

struct SessionOptions {
    std::int32_t peerConnectTimeout = 30;
    std::int32_t pieceTimeout = 30;
    std::int32_t requestTimeout = 60;
    std::int32_t peerTimeout = 120;
    std::int32_t handshakeTimeout = 120;
    std::int32_t trackerCompletionTimeout = 60;
    std::int32_t urlseedWaitRetry = 0;
    std::int32_t urlseedTimeout = 30;
    double shareRatioLimit = 9999.0;
    double seedTimeRatioLimit = 9999.0;
    std::int32_t connectionSpeed = 50;
    std::int32_t allowedFastSetSize = 100;
    std::int32_t sendBufferWatermark = 204800;
    std::int32_t activeDownloads = 50;
    std::int32_t activeSeeds = 50;
    std::int32_t activeLimit = 50;
    std::int32_t maxAllowedInRequestQueue = 400;
    SessionLimits limits;
};

// Reads one integer key of section "Option" the way the profile API does
// (0 for a missing, empty or non-numeric value).
using OptionReader = std::function<std::int32_t(const wchar_t* key)>;

// Every key: 0 gives the default, any other value (negative too) is used.
// With no reader (no option file) every default applies.
SessionOptions ReadSessionOptions(const OptionReader& read);

// Where the session's DHT bootstrap routers are (deployment constants).
std::vector<std::string> DhtRouterHosts();
constexpr int kDhtRouterPort = 22000;

// What each peer connection's socket may hold unread (SO_RCVBUF).
constexpr int kPeerReceiveBuffer = 1024 * 1024;

// Settings for the session: the options, the user agent "Tollgrove 3.0",
// any outgoing port, the fingerprint LT 0.15, the storage alerts only, the
// DHT's fixed tuning and routers, peers over TCP only (no uTP either way),
// each peer socket's receive buffer kPeerReceiveBuffer.
// Every session takes these: the program's, the tests' and the benchmarks'. `loopbackOnly` keeps a test session on
// 127.0.0.1 with no UPnP, NAT-PMP, local discovery or DHT traffic.
lt::settings_pack MakeSessionSettings(const SessionOptions& options, bool loopbackOnly);

// A rate limit of 0 or less means unlimited, which the engine writes as 0.
int EngineRateLimit(std::int32_t limit);

// Ratio limits are whole numbers times 100 for the engine, clamped to int.
int EngineRatio(double ratio);

} // namespace tollgrove
