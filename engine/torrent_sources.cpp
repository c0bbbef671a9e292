#include "engine/torrent_sources.hpp"

#include "engine/url_components.hpp"
#include "engine/web_peer_connection.hpp"

#include <chrono>
#include <iterator>

#include <algorithm>
#include <map>

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

bool engine_allows_requests(lt::session& s, lt::torrent_handle const& h)
{
    try {
        if (s.is_paused()) return false;
        lt::torrent_flags_t const f = h.flags();
        return !(f & (lt::torrent_flags::paused | lt::torrent_flags::upload_mode));
    } catch (std::exception const&) {
        return false; // the engine dropped the torrent
    }
}

namespace {

struct handed_over
{
    std::shared_ptr<torrent_sources> torrent;
    std::vector<ready_piece> pieces;
};

void hand_to_engine(handed_over& h)
{
    for (ready_piece const& r : h.pieces) {
        // The engine copies the bytes into its disk buffers before this
        // returns (the vector form would copy them once more on the way),
        // checks the piece's hash and writes it. A piece it rejects is
        // picked again after the next reads of its state. It throws when
        // the torrent is gone.
        try {
            h.torrent->handle.add_piece(r.piece, r.buffer.data());
        } catch (std::exception const&) {
        }
    }
}

} // namespace

void engine_core::finish_handler()
{
    // Handing pieces over or letting connections request can complete more
    // pieces (pad bytes alone): a few rounds take them; what is still left
    // waits for the next handler.
    for (int round = 0; round < 4; ++round) {
        std::vector<handed_over> pieces;
        std::vector<std::shared_ptr<web_peer_connection>> waiting;
        {
            std::lock_guard<std::recursive_mutex> l(mutex);
            for (auto const& t : torrents) {
                if (t->ready_pieces.empty()) continue;
                pieces.push_back({t, std::move(t->ready_pieces)});
                t->ready_pieces.clear();
            }
            for (auto const& w : want_requests)
                if (auto c = w.lock()) waiting.push_back(std::move(c));
            want_requests.clear();
        }
        if (pieces.empty() && waiting.empty()) return;

        for (auto& h : pieces) hand_to_engine(h);
        std::map<torrent_sources const*, bool> allowed;
        for (auto const& c : waiting) {
            auto t = c->torrent();
            if (t && allowed.count(t.get()) == 0) allowed[t.get()] = engine_allows_requests(session, t->handle);
        }

        std::lock_guard<std::recursive_mutex> l(mutex);
        for (auto& h : pieces)
            for (ready_piece& r : h.pieces) h.torrent->picker.recycle(std::move(r.buffer));
        for (auto const& c : waiting) {
            try {
                auto t = c->torrent();
                c->request_now(t && allowed[t.get()]);
            } catch (std::exception const& e) {
                write_log(std::string("Direct HTTP requests: ") + e.what());
            }
        }
    }
}

void give_up_url(engine_core& core, torrent_sources& t, std::string const& url, std::string const& why)
{
    url_state& u = t.health[url];
    u.given_up_until = core.clock.now() + give_up_time;
    core.write_log("Direct HTTP URL " + loggable_url(url) + " given up for "
        + std::to_string(std::chrono::duration_cast<std::chrono::minutes>(give_up_time).count()) + " minutes: " + why);
    std::vector<std::int32_t> ids;
    for (auto const& [id, s] : t.registry.sources())
        if (s.origin_url == url) ids.push_back(id);
    auto const connections = t.connections;
    for (auto const& c : connections)
        if (std::find(ids.begin(), ids.end(), c->source_id()) != ids.end())
            c->disconnect_quietly(lt::errors::http_error, 2);
    for (std::int32_t id : ids) t.registry.remove_direct_http_source(id);
    // Verdicts still to come on its pieces are part of what gave it up: one
    // arriving after the wait must not give it up again at once.
    for (auto it = t.delivered_by.begin(); it != t.delivered_by.end();)
        it = it->second == url ? t.delivered_by.erase(it) : std::next(it);
}

int url_pieces_under_way(torrent_sources const& t, std::string const& url)
{
    int n = 0;
    for (auto const& c : t.connections)
        if (c->origin_url() == url) n += int(c->pieces().size());
    for (auto const& [piece, by] : t.delivered_by) n += by == url;
    return n;
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
        else if (c->connecting() || c->handshaking()) p.flags |= lt::peer_info::connecting;
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
