// The once-a-second pass: the engine's settings and view of each torrent,
// the verdicts on delivered pieces, the rates, and the source section that
// connects, reconnects and erases sources.
#include "engine/torrent_sources.hpp"
#include "engine/web_peer_connection.hpp"

#include <libtorrent/settings_pack.hpp>

#include <algorithm>
#include <chrono>
#include <set>

namespace tg {

namespace {

session_snapshot read_settings(lt::session& session)
{
    lt::settings_pack const sp = session.get_settings();
    session_snapshot s;
    s.request.user_agent = sp.get_str(lt::settings_pack::user_agent);
    s.request.proxy_type = sp.get_int(lt::settings_pack::proxy_type);
    s.request.proxy_username = sp.get_str(lt::settings_pack::proxy_username);
    s.request.proxy_password = sp.get_str(lt::settings_pack::proxy_password);
    s.proxy_hostname = sp.get_str(lt::settings_pack::proxy_hostname);
    s.proxy_port = sp.get_int(lt::settings_pack::proxy_port);
    s.urlseed_pipeline_size = sp.get_int(lt::settings_pack::urlseed_pipeline_size);
    s.urlseed_timeout = sp.get_int(lt::settings_pack::urlseed_timeout);
    s.urlseed_wait_retry = sp.get_int(lt::settings_pack::urlseed_wait_retry);
    s.peer_connect_timeout = sp.get_int(lt::settings_pack::peer_connect_timeout);
    s.download_rate_limit = sp.get_int(lt::settings_pack::download_rate_limit);
    s.session_paused = session.is_paused();
    s.ip_filter = session.get_ip_filter();
    return s;
}

// The engine's view of one torrent, read without the component's lock.
struct torrent_view
{
    std::shared_ptr<torrent_sources> torrent;
    lt::torrent_status status;
    std::shared_ptr<lt::torrent_info const> info; // once the metadata is there
    std::set<lt::piece_index_t> queue;
    std::vector<lt::download_priority_t> priorities;
    int download_limit = 0; // the torrent's own, bytes a second; 0 or less for none
};

torrent_view read_view(std::shared_ptr<torrent_sources> const& t)
{
    torrent_view v;
    v.torrent = t;
    v.status = t->handle.status(lt::torrent_handle::query_pieces);
    v.download_limit = t->handle.download_limit();
    if (!v.status.has_metadata) return v;
    // Only this thread sets the torrent's metadata: reading it here needs
    // no lock.
    if (!t->info) v.info = t->handle.torrent_file();
    for (auto const& p : t->handle.get_download_queue()) v.queue.insert(p.piece_index);
    v.priorities = t->handle.get_piece_priorities();
    return v;
}

void set_up_metadata(torrent_sources& t, std::shared_ptr<lt::torrent_info const> info)
{
    t.info = std::move(info);
    if (!t.info || !t.info->is_valid()) {
        t.info.reset();
        return;
    }
    lt::file_storage const& files = t.info->orig_files();
    t.geometry.piece_length = files.piece_length();
    t.geometry.block_size = lt::default_block_size;
    t.geometry.name = files.name();
    t.geometry.files = &files;
    int const n = files.num_pieces();
    t.picker.init(n, files.piece_length(), files.piece_size(lt::piece_index_t(n - 1)), lt::default_block_size);
}

void update_rates(http_traffic& h, time_point now)
{
    auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - h.last_update).count();
    std::int64_t const total = h.payload_download + h.protocol_download;
    if (h.last_update != time_point{} && ms > 0) {
        h.download_rate = int((total - h.last_download) * 1000 / ms);
        h.download_payload_rate = int((h.payload_download - h.last_payload) * 1000 / ms);
        h.upload_rate = int((h.upload - h.last_upload) * 1000 / ms);
    }
    h.last_download = total;
    h.last_payload = h.payload_download;
    h.last_upload = h.upload;
    h.last_update = now;
}

bool served_by_live_connection(torrent_sources const& t, std::int32_t id)
{
    return std::any_of(t.connections.begin(), t.connections.end(),
        [id](std::shared_ptr<web_peer_connection> const& c) { return c->source_id() == id; });
}

void source_section(engine_core& core, std::shared_ptr<torrent_sources> const& t)
{
    source_registry& reg = t->registry;
    std::lock_guard<std::recursive_mutex> l(reg.mutex());
    time_point const now = core.clock.now();
    std::vector<std::int32_t> ids;
    auto& map = reg.sources();
    // A source of a URL that is given up or busy waits until the URL's wait
    // ends instead of connecting, whenever it was added.
    auto connect_or_wait = [&](direct_http_source& s) {
        time_point const wait = url_wait_end(t->health, s.origin_url);
        if (wait > now) {
            s.state = direct_http_source::retry_wait;
            s.retry_at = wait;
            return;
        }
        s.state = direct_http_source::connect_pending;
        ids.push_back(s.id);
    };
    for (auto it = map.begin(); it != map.end();) {
        direct_http_source& s = it->second;
        if (s.state == direct_http_source::idle || (s.state == direct_http_source::retry_wait && s.retry_at <= now)) {
            connect_or_wait(s);
            ++it;
            continue;
        }
        if (served_by_live_connection(*t, s.id)) {
            ++it;
            continue;
        }
        if (s.state == direct_http_source::removing) {
            it = reg.erase(it);
            continue;
        }
        if (s.state == direct_http_source::connected) connect_or_wait(s);
        ++it;
    }
    auto const failures = reg.connect_each(
        ids, core.settings.urlseed_wait_retry, [&](std::int32_t id) { connect_to_url_seed(core, t, id); });
    for (auto const& line : failures) core.write_log(line);
}

} // namespace

void start_budget_top_ups(engine_core& core)
{
    if (core.budget_timer_running || core.shutting_down) return;
    core.budget_timer_running = true;
    core.budget_timer.expires_after(rate_budget::slice);
    core.budget_timer.async_wait([&core](lt::error_code const& ec) {
        {
            std::lock_guard<std::recursive_mutex> l(core.mutex);
            core.budget_timer_running = false;
            if (ec || core.shutting_down) return;
            bool any = false;
            for (auto const& t : core.torrents) {
                if (!t->budget.limited()) continue;
                any = true;
                t->budget.top_up();
            }
            for (auto const& t : core.torrents) {
                auto const waiting = std::move(t->waiting_for_budget);
                t->waiting_for_budget.clear();
                for (auto const& w : waiting)
                    if (auto c = w.lock()) c->read_on();
            }
            if (any) start_budget_top_ups(core);
        }
        core.finish_handler();
    });
}

void reconnect_now(engine_core& core, std::shared_ptr<torrent_sources> const& t, std::int32_t id)
{
    if (core.shutting_down || t->removed || t->paused || t->checking_or_finished) return;
    source_registry& reg = t->registry;
    std::lock_guard<std::recursive_mutex> l(reg.mutex());
    direct_http_source* s = reg.find_direct_http_source(id);
    if (!s || s->state != direct_http_source::connected || served_by_live_connection(*t, id)) return;
    if (url_wait_end(t->health, s->origin_url) > core.clock.now()) return; // the pass puts it to wait
    s->state = direct_http_source::connect_pending;
    auto const failures = reg.connect_each(
        {id}, core.settings.urlseed_wait_retry, [&](std::int32_t i) { connect_to_url_seed(core, t, i); });
    for (auto const& line : failures) core.write_log(line);
}

namespace {

// The verdicts on the pieces each URL delivered: a failed hash counts
// against the URL, a good piece clears its count. A piece dropped for
// staying in the engine's queue says nothing about its URL.
void judge_urls(engine_core& core, torrent_sources& t, std::vector<lt::piece_index_t> const& rejected,
    std::set<lt::piece_index_t> const& queue)
{
    int const limit = untrusted_piece_limit(t.geometry.num_pieces());
    std::vector<std::string> give_up;
    for (auto it = t.delivered_by.begin(); it != t.delivered_by.end();) {
        lt::piece_index_t const piece = it->first;
        url_state& u = t.health[it->second];
        bool const failed = std::find(rejected.begin(), rejected.end(), piece) != rejected.end();
        if (t.picker.has(piece)) {
            u.failed_pieces = 0;
            u.trusted = true;
        } else if (failed && queue.count(piece) == 0) {
            u.trusted = false;
            if (++u.failed_pieces >= limit && u.given_up_until <= core.clock.now()
                && std::find(give_up.begin(), give_up.end(), it->second) == give_up.end())
                give_up.push_back(it->second);
        } else if (!failed && t.picker.waiting_for_verdict(piece)) {
            ++it;
            continue;
        }
        it = t.delivered_by.erase(it);
    }
    for (auto const& url : give_up)
        give_up_url(core, t, url,
            std::to_string(t.health[url].failed_pieces) + " pieces failed their hash check and none passed");
}

void apply_view(engine_core& core, torrent_view const& v)
{
    torrent_sources& t = *v.torrent;
    lt::torrent_status const& st = v.status;
    if (!t.info && v.info) set_up_metadata(t, v.info);
    if (t.picker.ready()) {
        std::vector<lt::piece_index_t> const rejected = t.picker.refresh(st.pieces, v.queue, v.priorities);
        for (lt::piece_index_t p : rejected)
            core.write_log("Direct HTTP piece " + std::to_string(int(p)) + " rejected by the engine; fetched again");
        judge_urls(core, t, rejected, v.queue);
        // Enough free buffers for every piece the connections can have
        // outstanding, so the steady state allocates none.
        std::size_t const pipeline = std::size_t(std::max(1, core.settings.urlseed_pipeline_size));
        t.picker.set_spare_buffers(pipeline * std::max<std::size_t>(1, t.connections.size()));
    }
    update_rates(t.traffic, core.clock.now());
    // The smaller of the session's limit and the torrent's; the engine's
    // rate is its peers' alone (the sources' bytes are not in it).
    int limit = core.settings.download_rate_limit;
    if (v.download_limit > 0 && (limit <= 0 || v.download_limit < limit)) limit = v.download_limit;
    t.budget.set_limit(limit, st.download_rate);
    if (t.budget.limited()) start_budget_top_ups(core);

    bool const checking = st.state == lt::torrent_status::checking_files
        || st.state == lt::torrent_status::checking_resume_data;
    t.paused = (st.flags & lt::torrent_flags::paused) || core.settings.session_paused;
    t.checking_or_finished = checking || st.is_finished;
    if (t.paused || (st.flags & lt::torrent_flags::upload_mode) || t.checking_or_finished) {
        // As a pause ends the engine's peer connections, it ends the
        // sources' too: nothing is fetched that the resume data taken
        // after the pause would not hold.
        lt::error_code const why = st.is_finished ? lt::errors::torrent_finished : lt::errors::torrent_paused;
        auto const connections = t.connections;
        for (auto const& c : connections) c->disconnect(why, 0);
    } else if (t.info && !t.registry.sources().empty()) {
        source_section(core, v.torrent);
    }

    // A connection that trickles keeps its pieces from the others: after a
    // long while without a whole block it ends, and its pieces go back.
    time_point const now = core.clock.now();
    auto const connections = t.connections;
    for (auto const& c : connections) {
        if (!c->stalled(now)) continue;
        core.write_log(source_label(c->source_id()) + ": no block in "
            + std::to_string(stalled_piece_time.count()) + " s; its pieces go to the other connections");
        c->disconnect(lt::errors::timed_out_inactivity, 1);
    }
    for (auto const& c : t.connections) c->request_pieces();
}

} // namespace

void source_tick(engine_core& core)
{
    std::vector<std::shared_ptr<torrent_sources>> torrents;
    {
        std::lock_guard<std::recursive_mutex> l(core.mutex);
        if (core.shutting_down) return;
        torrents = core.torrents;
    }
    // The engine's answers first, without the component's lock: each call
    // waits for the engine's thread. The engine throws when a torrent or
    // the session goes away between two calls; the network thread must not
    // end on that, so the pass catches it and goes on with the next torrent.
    std::vector<std::string> failures;
    session_snapshot settings;
    try {
        settings = read_settings(core.session);
    } catch (std::exception const& e) {
        core.write_log(std::string("Direct HTTP tick: ") + e.what());
        return;
    }
    std::vector<torrent_view> views;
    for (auto const& t : torrents) try {
        if (t->handle.is_valid()) views.push_back(read_view(t));
    } catch (std::exception const& e) {
        failures.push_back(std::string("Direct HTTP tick: ") + e.what());
    }

    std::lock_guard<std::recursive_mutex> l(core.mutex);
    for (auto const& line : failures) core.write_log(line);
    if (core.shutting_down) return;
    core.settings = std::move(settings);
    for (auto const& v : views) try {
        if (!v.torrent->removed) apply_view(core, v);
    } catch (std::exception const& e) {
        core.write_log(std::string("Direct HTTP tick: ") + e.what());
    }
}

} // namespace tg
