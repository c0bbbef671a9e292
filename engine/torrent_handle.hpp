// The handle the download job drives a torrent through: the engine's
// torrent_handle plus the torrent's Direct-HTTP sources.
#pragma once

#include "engine/direct_http_source.hpp"
#include "engine/peer_record.hpp"

#include <libtorrent/error_code.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_status.hpp>

#include <memory>
#include <string>
#include <vector>

namespace tg {

struct engine_core;
struct torrent_sources;

// What an expired or empty handle throws: error value 20 of the engine's
// category, errors::invalid_torrent_handle ("invalid torrent handle used").
using libtorrent_exception = lt::system_error;

// Threads: any application thread (the download job's worker). Every
// operation takes the component's lock and may block briefly while the
// engine's or the component's network thread holds its own; none sends a
// window message. Every operation throws libtorrent_exception with
// errors::invalid_torrent_handle, before taking any lock and without any
// effect, when the torrent was removed (through the component or from the
// engine's session) or the handle is empty, and with
// errc::state_not_recoverable once the component's network thread has had to
// end. Engine calls may throw what the engine throws.
class torrent_handle
{
public:
    torrent_handle() = default;

    // Whether the torrent still exists; throws nothing.
    bool is_valid() const;

    // One more Direct-HTTP source (one more HTTP connection) for `url`, also
    // when sources for the same URL exist. Connected by the next tick.
    void add_url_seed(std::string const& url) const;
    // Retires the first source whose URL is byte for byte `url`: its
    // connection is not cut, but it is not reconnected and is erased once it
    // has none. Repeated calls before that retire the same source again.
    void remove_url_seed(std::string const& url) const;
    // Sources in every state, those being retired included.
    int num_url_seeds() const;

    // Empties `v`, then: one record per BitTorrent peer (source_id 0), one
    // per live source connection, then one per source that was connected
    // once, is not being retired and has no live connection, in ascending
    // source_id. Each source row takes a new rate sample of its source.
    // Throws before touching `v` on an expired handle.
    void get_peer_info(std::vector<peer_record>& v) const;

    // The engine's status with the sources' traffic added: total_download,
    // total_payload_download, total_upload and their rates, and the live
    // source connections among num_peers, num_seeds and num_connections.
    lt::torrent_status status(lt::status_flags_t flags = lt::status_flags_t::all()) const;

    // A copy of the torrent's source records in ascending source_id, for
    // logs and checks.
    std::vector<direct_http_source> sources() const;

    // The engine's handle, for everything else (pause, limits, save resume
    // data). Throws like the operations above.
    lt::torrent_handle native_handle() const;

private:
    friend class direct_http_engine;
    torrent_handle(std::weak_ptr<engine_core> core, std::weak_ptr<torrent_sources> t)
        : m_core(std::move(core)), m_torrent(std::move(t))
    {
    }

    struct pinned
    {
        std::shared_ptr<engine_core> core;
        std::shared_ptr<torrent_sources> torrent;
    };
    pinned pin() const;

    std::weak_ptr<engine_core> m_core;
    std::weak_ptr<torrent_sources> m_torrent;
};

} // namespace tg
