#include "engine/direct_http_engine.hpp"

#include "engine/torrent_file_sources.hpp"
#include "engine/torrent_sources.hpp"
#include "engine/web_peer_connection.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <libtorrent/bencode.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/write_resume_data.hpp>

#include <algorithm>
#include <future>
#include <iterator>

namespace tg {

source_clock const& direct_http_engine::default_clock()
{
    static source_clock const real;
    return real;
}

direct_http_engine::direct_http_engine(lt::session& s, source_clock const& clock)
    : m_core(std::make_shared<engine_core>(s, clock))
{
    m_work.emplace(m_core->ioc.get_executor());
    {
        std::lock_guard<std::recursive_mutex> l(m_core->mutex);
        schedule_tick();
    }
    engine_core* core = m_core.get();
    m_core->thread = std::thread([core] { run_network_thread(*core); });
}

namespace {

// One pass on the network thread. The tick takes the component's lock
// itself, around its own work but not around its calls into the engine.
void run_tick(engine_core& core)
{
    try {
        source_tick(core);
    } catch (std::exception const& e) {
        core.write_log(std::string("Direct HTTP tick: ") + e.what());
    }
}

} // namespace

void direct_http_engine::schedule_tick()
{
    engine_core* core = m_core.get();
    core->tick_timer.expires_after(std::chrono::seconds(1));
    core->tick_timer.async_wait([this, core](lt::error_code const& ec) {
        if (ec) return;
        run_tick(*core);
        {
            std::lock_guard<std::recursive_mutex> l(core->mutex);
            if (core->shutting_down) return;
            // Thrown from here, the tick is gone: the network thread ends.
            core->tick_scheduled = false;
            schedule_tick();
            core->tick_scheduled = true;
        }
        core->finish_handler();
    });
}

void direct_http_engine::run_pass()
{
    std::promise<void> done;
    engine_core* core = m_core.get();
    boost::asio::post(core->ioc, [core, &done] {
        run_tick(*core);
        core->finish_handler();
        done.set_value();
    });
    done.get_future().wait();
}

void run_network_thread(engine_core& core)
{
    for (;;) {
        try {
            core.ioc.run();
            return;
        } catch (std::exception const& e) {
            core.write_log(std::string("Direct HTTP network thread: ") + e.what());
        } catch (...) {
            core.write_log("Direct HTTP network thread: unknown exception");
        }
        std::lock_guard<std::recursive_mutex> l(core.mutex);
        if (!core.tick_scheduled && !core.shutting_down) {
            // Nothing would connect, reconnect or end the sources any more.
            core.network_failed = true;
            return;
        }
    }
}

direct_http_engine::~direct_http_engine()
{
    {
        std::lock_guard<std::recursive_mutex> l(m_core->mutex);
        m_core->shutting_down = true;
        m_core->tick_timer.cancel();
        m_core->budget_timer.cancel();
        for (auto const& t : m_core->torrents) {
            t->removed = true;
            auto const connections = t->connections;
            for (auto const& c : connections) c->disconnect(lt::errors::session_is_closing, 0);
        }
    }
    m_work.reset();
    m_core->ioc.stop();
    if (m_core->thread.joinable()) m_core->thread.join();
    std::lock_guard<std::recursive_mutex> l(m_core->mutex);
    m_core->connect_queue.clear();
    m_core->torrents.clear();
}

void direct_http_engine::set_max_half_open_connections(int n)
{
    std::lock_guard<std::recursive_mutex> l(m_core->mutex);
    m_core->max_half_open = n;
    m_core->pump_connect_queue();
}

void direct_http_engine::set_log(std::function<void(std::string const&)> log)
{
    std::lock_guard<std::recursive_mutex> l(m_core->mutex);
    m_core->log = std::move(log);
}

namespace {

std::vector<std::string> engine_parsed_urls(lt::torrent_info const& ti)
{
    std::vector<std::string> out;
    for (auto const& w : ti.web_seeds())
        if (w.type == lt::web_seed_entry::url_seed) out.push_back(w.url);
    for (auto const& w : ti.web_seeds())
        if (w.type == lt::web_seed_entry::http_seed) out.push_back(w.url);
    return out;
}

} // namespace

torrent_handle direct_http_engine::add_torrent(lt::add_torrent_params atp, lt::span<char const> torrent_file)
{
    bool const has_metadata = atp.ti && atp.ti->is_valid();
    std::vector<std::string> urls;
    if (has_metadata) {
        urls = torrent_file.empty() ? engine_parsed_urls(*atp.ti) : torrent_file_source_urls(torrent_file);
        urls.insert(urls.end(), atp.url_seeds.begin(), atp.url_seeds.end());
        urls.insert(urls.end(), atp.http_seeds.begin(), atp.http_seeds.end());
#if TORRENT_ABI_VERSION == 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        // Resume bytes in the old field are read by the session itself; take
        // their lists here so they become sources like the others.
        if (!atp.resume_data.empty()) {
            lt::error_code ec;
            lt::add_torrent_params const rd = lt::read_resume_data(atp.resume_data, ec);
            if (!ec) {
                urls.insert(urls.end(), rd.url_seeds.begin(), rd.url_seeds.end());
                urls.insert(urls.end(), rd.http_seeds.begin(), rd.http_seeds.end());
            }
        }
#pragma GCC diagnostic pop
#endif
    }

    // The engine copies the torrent's web seeds when it adds the torrent:
    // give it a copy without them, and no lists of its own.
    if (atp.ti) {
        atp.ti = std::make_shared<lt::torrent_info>(*atp.ti);
        atp.ti->set_web_seeds({});
    }
    atp.url_seeds.clear();
    atp.http_seeds.clear();
    atp.flags |= lt::torrent_flags::override_web_seeds;

    lt::torrent_handle h = m_core->session.add_torrent(std::move(atp));
    // Whatever still reached the engine (old-style resume bytes) goes too.
    for (auto const& u : h.url_seeds()) h.remove_url_seed(u);
    for (auto const& u : h.http_seeds()) h.remove_http_seed(u);

    auto t = std::make_shared<torrent_sources>(h, m_core->clock);
    std::lock_guard<std::recursive_mutex> l(m_core->mutex);
    // The engine hands back the torrent it already has when the same one is
    // added again: the new sources replace the old ones, so no URL is served
    // twice by two registries.
    auto& v = m_core->torrents;
    for (auto const& old : v) {
        if (old->handle != h) continue;
        // What the old sources learnt of their URLs holds for the new ones.
        t->health = old->health;
        old->removed = true;
        auto const connections = old->connections;
        for (auto const& c : connections) c->disconnect(lt::errors::duplicate_torrent, 0);
    }
    v.erase(std::remove_if(v.begin(), v.end(), [&](auto const& old) { return old->handle == h; }), v.end());
    for (auto const& u : urls) t->registry.add_url_seed(u);
    m_core->torrents.push_back(t);
    return torrent_handle(m_core, t);
}

void direct_http_engine::remove_torrent(torrent_handle const& h, lt::remove_flags_t flags)
{
    std::shared_ptr<torrent_sources> t = h.m_torrent.lock();
    if (!t || h.m_core.lock() != m_core) return;
    std::lock_guard<std::recursive_mutex> l(m_core->mutex);
    t->removed = true;
    auto const connections = t->connections;
    for (auto const& c : connections) c->disconnect(lt::errors::torrent_removed, 0);
    auto& v = m_core->torrents;
    v.erase(std::remove(v.begin(), v.end(), t), v.end());
    m_core->session.remove_torrent(t->handle, flags);
}

std::vector<char> write_resume_data_buf(lt::add_torrent_params const& atp)
{
    lt::entry e = lt::write_resume_data(atp);
    e.dict().erase("url-list");
    e.dict().erase("httpseeds");
    std::vector<char> out;
    lt::bencode(std::back_inserter(out), e);
    return out;
}

} // namespace tg
