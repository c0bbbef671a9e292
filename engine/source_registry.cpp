#include "engine/source_registry.hpp"

namespace tg {

using lock = std::lock_guard<std::recursive_mutex>;

source_registry::source_registry(source_clock const& clock) : m_clock(clock) {}

void source_registry::add_url_seed(std::string const& url)
{
    lock l(m_mutex);
    // A full registry would wrap the 16-bit count; further adds are dropped.
    if (m_count >= max_sources) return;
    // The smallest positive number not in use. Keys are distinct and
    // positive, so without a gap it is one past the last key.
    std::int32_t n = 1;
    if (!m_sources.empty() && m_sources.rbegin()->first == std::int32_t(m_sources.size()))
        n = std::int32_t(m_sources.size()) + 1;
    else
        while (m_sources.count(n) != 0) ++n;
    m_sources.emplace(n, direct_http_source(url, n, m_clock.now()));
    ++m_count;
}

void source_registry::remove_url_seed(std::string const& url)
{
    lock l(m_mutex);
    for (auto& [id, s] : m_sources) {
        if (s.origin_url == url) {
            s.state = direct_http_source::removing;
            return;
        }
    }
}

void source_registry::remove_direct_http_source(std::int32_t id)
{
    lock l(m_mutex);
    auto it = m_sources.find(id);
    if (it == m_sources.end()) return;
    erase(it);
}

void source_registry::retry_later(direct_http_source& s, int wait_seconds)
{
    lock l(m_mutex);
    s.state = direct_http_source::retry_wait;
    s.retry_at = m_clock.now() + std::chrono::seconds(wait_seconds);
}

std::vector<std::string> source_registry::connect_each(std::vector<std::int32_t> const& ids, int wait_seconds,
    std::function<void(std::int32_t)> const& connect)
{
    lock l(m_mutex);
    std::vector<std::string> failures;
    for (std::int32_t id : ids) {
        try {
            connect(id);
        } catch (std::exception const& e) {
            failures.push_back(source_label(id) + ": connect failed: " + e.what());
            if (direct_http_source* s = find_direct_http_source(id)) retry_later(*s, wait_seconds);
        }
    }
    return failures;
}

void source_registry::start_lookup(std::int32_t id, std::uint64_t serial)
{
    lock l(m_mutex);
    m_lookups[id] = serial;
}

bool source_registry::lookup_current(std::int32_t id, std::uint64_t serial)
{
    lock l(m_mutex);
    auto it = m_lookups.find(id);
    return it != m_lookups.end() && it->second == serial;
}

direct_http_source* source_registry::find_direct_http_source(std::int32_t id)
{
    lock l(m_mutex);
    auto it = m_sources.find(id);
    return it == m_sources.end() ? nullptr : &it->second;
}

namespace {

bool same_address(lt::address const& a, lt::address const& b)
{
    if (a.is_v4() && b.is_v4()) return a.to_v4().to_bytes() == b.to_v4().to_bytes();
    if (a.is_v6() && b.is_v6()) {
        auto const x = a.to_v6();
        auto const y = b.to_v6();
        return x.to_bytes() == y.to_bytes() && x.scope_id() == y.scope_id();
    }
    return false;
}

} // namespace

bool source_registry::direct_http_address_in_use(lt::tcp::endpoint ep)
{
    lock l(m_mutex);
    for (auto const& [id, s] : m_sources) {
        if (s.state == direct_http_source::removing) continue;
        if (same_address(s.endpoint.address(), ep.address())) return true;
    }
    return false;
}

int source_registry::num_url_seeds()
{
    lock l(m_mutex);
    return m_count;
}

std::map<std::int32_t, direct_http_source>::iterator source_registry::erase(
    std::map<std::int32_t, direct_http_source>::iterator it)
{
    lock l(m_mutex);
    --m_count;
    m_lookups.erase(it->first);
    return m_sources.erase(it);
}

void source_registry::append_rows_without_connection(std::vector<peer_record>& v)
{
    lock l(m_mutex);
    time_point const now = m_clock.now();
    for (auto& [id, s] : m_sources) {
        if (s.reported || s.state == direct_http_source::removing || !s.was_connected) continue;
        peer_record& p = v.emplace_back();
        clear_numeric_fields(p);
        p.up_speed = int(s.upload_rate(now));
        p.down_speed = int(s.download_rate(now));
        if (p.down_speed > 0) p.flags |= lt::peer_info::seed;
        p.total_download = s.total_download;
        p.total_upload = s.total_upload;
        p.ip = s.endpoint;
        p.source_id = s.id;
        p.client = s.client_name();
        p.connection_type = lt::peer_info::web_seed;
        s.take_rate_sample(now);
    }
    for (auto& [id, s] : m_sources) s.reported = false;
}

} // namespace tg
