// The Direct-HTTP component: lives beside one engine session and runs the
// torrents' Direct-HTTP sources. The download job adds its torrent here (not
// on the session directly) and then drives it through tg::torrent_handle.
#pragma once

#include "engine/source_clock.hpp"
#include "engine/torrent_handle.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/span.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tg {

// Keeps the network thread's io_context running while it has no work; reset
// to let the thread finish.
using network_work_guard = std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>;

// Threads: construct, add and remove torrents, and destroy on one
// application thread (the worker); handles may be used from any thread. The
// component runs its own network thread (name lookups, connections and the
// once-a-second tick), which it starts in the constructor and joins in the
// destructor. The component must be destroyed before its session.
class direct_http_engine
{
public:
    // `clock` must outlive the component; tests pass a clock they control.
    explicit direct_http_engine(lt::session& s, source_clock const& clock = default_clock());
    ~direct_http_engine();
    direct_http_engine(direct_http_engine const&) = delete;
    direct_http_engine& operator=(direct_http_engine const&) = delete;

    // Adds a torrent to the session (blocks until the engine has it; throws
    // what session::add_torrent throws, and then adds no source).
    // `torrent_file` is the .torrent's bytes (as load_file read them): its
    // "url-list" then its "httpseeds" become sources 1, 2, ..., then the
    // resume data's lists that read_resume_data put into `atp` (url_seeds,
    // then http_seeds). The engine is left with no web seed of its own, so it
    // never runs its stock web seeds. A torrent without metadata gets no
    // sources from either. An empty `torrent_file` takes the lists from
    // atp.ti as the engine parsed them.
    torrent_handle add_torrent(lt::add_torrent_params atp, lt::span<char const> torrent_file = {});

    // Removes the torrent from the session and drops its sources; its
    // handles expire. An expired handle changes nothing.
    void remove_torrent(torrent_handle const& h, lt::remove_flags_t flags = {});

    // The most Direct-HTTP connections that may be connecting at once (the
    // option file's "set_max_half_open_connections"); 0 or less: no limit.
    void set_max_half_open_connections(int n);

    // Where the component writes its reports (refused URLs, failed lookups,
    // ended connections, rejected pieces): one English line per call, on the
    // component's network thread. Set it before adding torrents.
    void set_log(std::function<void(std::string const&)> log);

    static source_clock const& default_clock();

    // Runs one pass of the tick on the network thread now, beside the
    // once-a-second ones, and returns when it has run, so that a test that
    // moves the clock by hand moves the passes too instead of waiting for
    // them. Any thread but the network thread.
    void run_pass();

private:
    void schedule_tick();

    std::shared_ptr<engine_core> m_core;
    network_work_guard m_work;
};

// Resume data as the engine writes it, without the "url-list" and
// "httpseeds" keys: sources are never saved between runs. Any thread.
std::vector<char> write_resume_data_buf(lt::add_torrent_params const& atp);

} // namespace tg
