#include "engine/torrent_sources.hpp"

#include "engine/web_peer_connection.hpp"

#include <algorithm>

namespace tg {

void fold_source_traffic(lt::torrent_status& st, torrent_sources const& t)
{
    http_traffic const& h = t.traffic;
    st.total_download += h.payload_download + h.protocol_download;
    st.total_payload_download += h.payload_download;
    st.total_upload += h.upload;
    st.download_rate += h.download_rate;
    st.download_payload_rate += h.download_payload_rate;
    st.upload_rate += h.upload_rate;
    int const live = int(t.connections.size());
    int const established = int(std::count_if(t.connections.begin(), t.connections.end(),
        [](std::shared_ptr<web_peer_connection> const& c) { return c->established(); }));
    // The file server counts as a seed once connected: it has every piece.
    st.num_peers += live;
    st.num_seeds += established;
    st.num_connections += live;
    st.list_peers += live;
    st.list_seeds += established;
}

void engine_core::write_log(std::string const& line) noexcept
{
    try {
        if (log) log(line);
    } catch (...) {
        // The line is lost; the caller's work goes on.
    }
}

bool engine_core::may_request(torrent_sources const& t) const
{
    if (t.removed || t.checking_or_finished) return false;
    try {
        if (session.is_paused()) return false;
        lt::torrent_flags_t const f = t.handle.flags();
        return !(f & (lt::torrent_flags::paused | lt::torrent_flags::upload_mode));
    } catch (std::exception const&) {
        return false; // the engine dropped the torrent
    }
}

void append_live_connection_rows(torrent_sources& t, std::vector<peer_record>& v)
{
    time_point const now = t.registry.clock().now();
    for (auto const& c : t.connections) {
        peer_record& p = v.emplace_back();
        clear_numeric_fields(p);
        p.ip = c->remote();
        // A source connection is opened here, never unchokes the server
        // (choked) and never uploads; the server unchokes it (remote_choked
        // cleared) and has every piece once connected.
        p.flags = lt::peer_info::choked | lt::peer_info::local_connection | lt::peer_info::upload_only;
        if (c->established()) p.flags |= lt::peer_info::interesting | lt::peer_info::seed;
        else p.flags |= lt::peer_info::remote_choked;
        if (c->queued()) p.flags |= peer_queued;
        else if (c->connecting()) p.flags |= lt::peer_info::connecting;
        p.client = c->client_label();
        p.connection_type = lt::peer_info::web_seed;
        p.source_id = c->source_id();
        p.total_download = c->total_download();
        p.total_upload = c->total_upload();
        web_protocol::piece_progress pr;
        if (c->protocol().downloading_piece_progress(pr)) {
            p.downloading_piece_index = pr.piece;
            p.downloading_block_index = pr.block_index;
            p.downloading_progress = pr.bytes_downloaded;
            p.downloading_total = pr.full_block_bytes;
        }
        if (direct_http_source* s = t.registry.find_direct_http_source(c->source_id())) {
            p.total_download = s->total_download;
            p.total_upload = s->total_upload;
            p.down_speed = int(s->download_rate(now));
            p.up_speed = int(s->upload_rate(now));
            s->endpoint = p.ip;
            s->client = c->client_label();
            s->take_rate_sample(now);
            s->reported = true;
        }
    }
}

} // namespace tg
