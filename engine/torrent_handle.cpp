#include "engine/torrent_handle.hpp"

#include "engine/torrent_sources.hpp"

namespace tg {

using lock = std::lock_guard<std::recursive_mutex>;

torrent_handle::pinned torrent_handle::pin() const
{
    pinned p{m_core.lock(), m_torrent.lock()};
    if (!p.core || !p.torrent || !p.torrent->handle.is_valid())
        throw libtorrent_exception(lt::errors::invalid_torrent_handle);
    if (p.core->network_failed)
        throw libtorrent_exception(boost::system::errc::make_error_code(boost::system::errc::state_not_recoverable));
    return p;
}

bool torrent_handle::is_valid() const
{
    auto t = m_torrent.lock();
    return t && !m_core.expired() && t->handle.is_valid();
}

void torrent_handle::add_url_seed(std::string const& url) const
{
    pinned p = pin();
    lock l(p.core->mutex);
    p.torrent->registry.add_url_seed(url);
}

void torrent_handle::remove_url_seed(std::string const& url) const
{
    pinned p = pin();
    lock l(p.core->mutex);
    p.torrent->registry.remove_url_seed(url);
}

int torrent_handle::num_url_seeds() const
{
    pinned p = pin();
    lock l(p.core->mutex);
    return p.torrent->registry.num_url_seeds();
}

void torrent_handle::get_peer_info(std::vector<peer_record>& v) const
{
    pinned p = pin();
    std::vector<lt::peer_info> peers;
    p.torrent->handle.get_peer_info(peers);
    lock l(p.core->mutex);
    v.clear();
    v.reserve(peers.size());
    for (auto& peer : peers) {
        peer_record& r = v.emplace_back();
        static_cast<lt::peer_info&>(r) = std::move(peer);
        r.source_id = 0;
    }
    append_live_connection_rows(*p.torrent, v);
    p.torrent->registry.append_rows_without_connection(v);
}

lt::torrent_status torrent_handle::status(lt::status_flags_t flags) const
{
    pinned p = pin();
    lt::torrent_status st = p.torrent->handle.status(flags);
    lock l(p.core->mutex);
    fold_source_traffic(st, *p.torrent);
    return st;
}

std::vector<direct_http_source> torrent_handle::sources() const
{
    pinned p = pin();
    lock l(p.core->mutex);
    std::lock_guard<std::recursive_mutex> rl(p.torrent->registry.mutex());
    std::vector<direct_http_source> v;
    for (auto const& [id, s] : p.torrent->registry.sources()) v.push_back(s);
    return v;
}

lt::torrent_handle torrent_handle::native_handle() const
{
    return pin().torrent->handle;
}

} // namespace tg
