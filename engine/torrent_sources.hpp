// Internal: what the component keeps per torrent, and the state the whole
// component shares. Not for the download job (it uses torrent_handle).
#pragma once

#include "engine/http_piece_picker.hpp"
#include "engine/rate_budget.hpp"
#include "engine/source_registry.hpp"
#include "engine/tls_context.hpp"
#include "engine/url_health.hpp"
#include "engine/web_protocol.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <libtorrent/ip_filter.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tg {

class web_peer_connection;
struct engine_core;

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
    // Totals and time at the last rate update.
    std::int64_t last_download = 0;
    std::int64_t last_payload = 0;
    std::int64_t last_upload = 0;
    time_point last_update{};
};

// A piece whose blocks are all in: its bytes go to the engine once the
// component's lock is released, then its buffer goes back to the picker.
struct ready_piece
{
    lt::piece_index_t piece{-1};
    piece_buffer buffer;
};

struct torrent_sources
{
    torrent_sources(lt::torrent_handle h, source_clock const& clock) : handle(h), registry(clock) {}

    lt::torrent_handle handle;
    source_registry registry;
    http_traffic traffic;
    // Every Direct-HTTP connection of the torrent from its creation (before
    // its TCP connect) until it ends.
    std::vector<std::shared_ptr<web_peer_connection>> connections;
    // The torrent's metadata and the geometry the connections share; set
    // when the torrent has its metadata.
    std::shared_ptr<lt::torrent_info const> info;
    torrent_geometry geometry;
    http_piece_picker picker;
    bool removed = false;
    // The tick's last view: the torrent is checking its files or finished
    // (nothing to request from a source then).
    bool checking_or_finished = false;
    // The tick's last view: the torrent or the session is paused.
    bool paused = false;
    // Completed pieces not yet handed to the engine.
    std::vector<ready_piece> ready_pieces;
    // What each URL the sources were added with has done so far, and which
    // URL delivered each piece still waiting for its verdict.
    url_health health;
    std::map<lt::piece_index_t, std::string> delivered_by;
    // The sources' share of the download rate limit, and the connections
    // waiting for its next top-up before they read on.
    rate_budget budget;
    std::vector<std::weak_ptr<web_peer_connection>> waiting_for_budget;
};

// Gives the URL up for give_up_time (`why` says what it did, logged once):
// its sources are erased, their connections end, and sources added for it
// meanwhile wait until then. Component lock held.
void give_up_url(engine_core& core, torrent_sources& t, std::string const& url, std::string const& why);

// Pieces of the URL's connections under way or waiting for their verdict.
int url_pieces_under_way(torrent_sources const& t, std::string const& url);

// Whether the engine lets the sources of a torrent fetch now: neither the
// session nor the torrent is paused, and the torrent is not in upload mode.
// Blocks until the engine's thread answers: never under the component's
// lock. False when the torrent is gone.
bool engine_allows_requests(lt::session& s, lt::torrent_handle const& h);

// Adds the sources' traffic, rates and live connections to an engine status.
void fold_source_traffic(lt::torrent_status& st, torrent_sources const& t);

// Appends one row per live source connection (each marks its source
// reported and takes a rate sample). Component lock held.
void append_live_connection_rows(torrent_sources& t, std::vector<peer_record>& v);

// The engine's settings the component reads once a second.
struct session_snapshot
{
    request_settings request;
    int urlseed_pipeline_size = 5;
    int urlseed_timeout = 20;
    int urlseed_wait_retry = 30;
    int peer_connect_timeout = 15;
    int download_rate_limit = 0; // the session's, bytes a second; 0 for none
    std::string proxy_hostname;
    int proxy_port = 0;
    bool session_paused = false;
    lt::ip_filter ip_filter;
};

// What a source's report says (the component's log; the engine's alerts for
// these are not posted, the application's alert mask admits none of them).
using source_log = std::function<void(std::string const&)>;

struct engine_core
{
    engine_core(lt::session& s, source_clock const& c) : session(s), clock(c), tick_timer(ioc), budget_timer(ioc) {}

    lt::session& session;
    source_clock const& clock;
    // The component's lock: held by every handle operation and every network
    // callback; registry locks nest inside it.
    std::recursive_mutex mutex;
    std::vector<std::shared_ptr<torrent_sources>> torrents;

    boost::asio::io_context ioc;
    boost::asio::steady_timer tick_timer;
    // Tops the torrents' rate budgets up while any is limited.
    boost::asio::steady_timer budget_timer;
    bool budget_timer_running = false;
    std::thread thread;
    bool shutting_down = false;
    session_snapshot settings;
    source_log log;

    // Connections waiting for a TCP connect slot, and those connecting.
    int max_half_open = 0; // 0 or less: no limit
    int half_open = 0;
    std::deque<std::weak_ptr<web_peer_connection>> connect_queue;
    std::uint64_t next_lookup_serial = 1;
    int next_connection_number = 1; // the picker's owner number of each connection

    // Never throws: a failing log must not end the network thread or the
    // step that reports.
    void write_log(std::string const& line) noexcept;
    // Connections that want to send requests, waiting for the engine's word
    // that the torrent may fetch (finish_handler asks it).
    std::vector<std::weak_ptr<web_peer_connection>> want_requests;
    // What a network handler leaves for after its lock is released: hands
    // the completed pieces to the engine, asks the engine whether the
    // waiting connections may request, and lets them. The engine's calls
    // block until its own thread answers; made under the component's lock,
    // they would stall every other user of the lock behind a busy engine.
    // Network thread, component lock not held.
    void finish_handler();
    // Set when the network thread had to end: every handle operation then
    // throws, so the download ends with an exception.
    std::atomic<bool> network_failed{false};
    bool tick_scheduled = true; // false once scheduling the next tick failed
    // Starts queued connections while slots are free.
    void pump_connect_queue();
    // The TLS client context of https sources, made when the first one
    // connects; throws when it cannot be made (the source then waits and is
    // tried again). Network thread, component lock held.
    tls_client_context const& tls_context();
    std::unique_ptr<tls_client_context> tls;
};

// The once-a-second work: settings, the engine's view of each torrent,
// verdicts on delivered pieces, rates, and the source section. Network
// thread; takes the component's lock for its own work, not for its calls
// into the engine.
void source_tick(engine_core& core);

// Starts the top-ups of the torrents' rate budgets, unless they run: each
// slice, every limited budget gets its share and the connections waiting on
// it read on; they stop once no torrent is limited. Component lock held.
void start_budget_top_ups(engine_core& core);

// The network thread's body: runs the component's handlers until the
// component stops them. A handler that throws is logged and the others go
// on; only when the tick can no longer be scheduled does the thread end,
// marking the component failed.
void run_network_thread(engine_core& core);

// Connects source `id` of `t` (the tick has just set it connect_pending).
void connect_to_url_seed(engine_core& core, std::shared_ptr<torrent_sources> const& t, std::int32_t id);

// Connects a source again at once, as the next pass would, when its
// connection ended after whole answers (the server closes connections as a
// matter of course). Does nothing when the pass would not connect it now.
// Network thread, component lock held.
void reconnect_now(engine_core& core, std::shared_ptr<torrent_sources> const& t, std::int32_t id);

// The process-wide start point of the address choice.
extern std::int16_t s_url_seed_address_rotation;

// The address choice: from the rotating start point on, the first entry no
// source that is not removing holds; when every entry from there on is
// held, the first free entry before the start point, else the start point.
std::size_t choose_url_seed_address(source_registry& reg, std::vector<lt::tcp::endpoint> const& list);

} // namespace tg
