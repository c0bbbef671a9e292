// Internal: what the component keeps per torrent, and the state the whole
// component shares. Not for the download job (it uses torrent_handle).
#pragma once

#include "engine/source_registry.hpp"

#include <libtorrent/session.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_status.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tg {

// The sources' own traffic of one torrent, over all connections that ever
// served it (erased sources included), and its rates of the last second.
struct http_traffic
{
    std::int64_t payload_download = 0;  // body bytes inside response ranges
    std::int64_t protocol_download = 0; // headers and refused bodies
    std::int64_t upload = 0;            // request texts
    int download_rate = 0;
    int download_payload_rate = 0;
    int upload_rate = 0;
    // Totals at the last rate update.
    std::int64_t last_download = 0;
    std::int64_t last_payload = 0;
    std::int64_t last_upload = 0;
};

struct torrent_sources
{
    torrent_sources(lt::torrent_handle h, source_clock const& clock) : handle(h), registry(clock) {}

    lt::torrent_handle handle;
    source_registry registry;
    http_traffic traffic;
    // Connections that exist (queued, connecting or connected) and those of
    // them with an established TCP connection.
    int live_connections = 0;
    int established_connections = 0;
};

// Adds the sources' traffic, rates and live connections to an engine status.
void fold_source_traffic(lt::torrent_status& st, torrent_sources const& t);

// Appends one row per live source connection (each marks its source
// reported and takes a rate sample). Component lock held.
void append_live_connection_rows(torrent_sources& t, std::vector<peer_record>& v);

struct engine_core
{
    engine_core(lt::session& s, source_clock const& c) : session(s), clock(c) {}

    lt::session& session;
    source_clock const& clock;
    // The component's lock: held by every handle operation and every network
    // callback; registry locks nest inside it.
    std::recursive_mutex mutex;
    std::vector<std::shared_ptr<torrent_sources>> torrents;
};

} // namespace tg
