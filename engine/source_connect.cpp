// Connecting a source: URL checks, name lookups (directly or behind the
// session's HTTP proxy), the address choice, the IP filter, and the
// connection handed to the half-open queue. Source ports are not filtered:
// the engine gives no access to its port filter.
#include "engine/torrent_sources.hpp"
#include "engine/url_components.hpp"
#include "engine/web_peer_connection.hpp"

#include <boost/asio/ip/tcp.hpp>

namespace tg {

std::int16_t s_url_seed_address_rotation = 0;

namespace {

using resolver = boost::asio::ip::tcp::resolver;
using results = resolver::results_type;

// The part of a pending lookup that outlives the call: the torrent (weakly
// here: a removed torrent ends its lookups), the source's number and the
// serial that tells a stale completion apart.
struct lookup
{
    engine_core* core;
    std::weak_ptr<torrent_sources> torrent;
    std::int32_t id;
    std::uint64_t serial;
    std::shared_ptr<resolver> res;
    std::optional<lt::tcp::endpoint> proxy; // set behind an HTTP proxy
};

bool http_proxy(session_snapshot const& s)
{
    return s.request.proxy_type == 4 || s.request.proxy_type == 5;
}

void park(engine_core& core, torrent_sources& t, direct_http_source& s)
{
    t.registry.retry_later(s, core.settings.urlseed_wait_retry);
}

void erase(torrent_sources& t, std::int32_t id)
{
    t.registry.remove_direct_http_source(id);
}

// The source and torrent of a completion, or null when the lookup is stale.
std::shared_ptr<torrent_sources> still_current(lookup const& l, direct_http_source*& s)
{
    s = nullptr;
    auto t = l.torrent.lock();
    if (!t || t->removed || l.core->shutting_down) return nullptr;
    if (!t->registry.lookup_current(l.id, l.serial)) return nullptr;
    s = t->registry.find_direct_http_source(l.id);
    return s ? t : nullptr;
}

void on_name_lookup(lookup l, lt::error_code const& ec, results const& entries);

void start_lookup(lookup l, std::string const& host, int port,
    void (*done)(lookup, lt::error_code const&, results const&))
{
    l.res = std::make_shared<resolver>(l.core->ioc);
    auto r = l.res;
    r->async_resolve(host, std::to_string(port), [l, done](lt::error_code const& ec, results const& entries) {
        std::lock_guard<std::recursive_mutex> g(l.core->mutex);
        done(l, ec, entries);
    });
}

void on_proxy_name_lookup(lookup l, lt::error_code const& ec, results const& entries)
{
    engine_core& core = *l.core;
    direct_http_source* s = nullptr;
    auto t = still_current(l, s);
    if (!t) return;
    if (ec || entries.empty()) {
        core.write_log(source_label(l.id, s->url) + ": proxy lookup failed: " + ec.message());
        erase(*t, l.id);
        return;
    }
    lt::tcp::endpoint const proxy = entries.begin()->endpoint();
    lt::error_code pec;
    url_components const c = parse_url_components(s->url, pec);
    if (pec) {
        core.write_log(source_label(l.id, s->url) + ": " + pec.message());
        erase(*t, l.id);
        return;
    }
    if (core.settings.ip_filter.access(proxy.address()) & lt::ip_filter::blocked) {
        // A refused proxy would leave the source resolving for good: it
        // waits and is tried again instead.
        core.write_log(source_label(l.id) + ": proxy address blocked by the IP filter");
        park(core, *t, *s);
        return;
    }
    l.proxy = proxy;
    start_lookup(l, c.host, c.port < 0 ? default_port(c.protocol) : c.port, &on_name_lookup);
}

} // namespace

std::size_t choose_url_seed_address(source_registry& reg, std::vector<lt::tcp::endpoint> const& list)
{
    std::size_t const k = list.size();
    std::size_t start = 0;
    if (s_url_seed_address_rotation >= 0 && std::size_t(s_url_seed_address_rotation) < k) {
        start = std::size_t(s_url_seed_address_rotation);
        ++s_url_seed_address_rotation;
    } else {
        s_url_seed_address_rotation = 0;
    }
    for (std::size_t i = start; i < k; ++i)
        if (!reg.direct_http_address_in_use(list[i])) return i;
    for (std::size_t i = 0; i < start; ++i)
        if (!reg.direct_http_address_in_use(list[i])) return i;
    return start;
}

namespace {

void on_name_lookup(lookup l, lt::error_code const& ec, results const& entries)
{
    engine_core& core = *l.core;
    direct_http_source* s = nullptr;
    auto t = still_current(l, s);
    if (!t) return;
    std::string const url = s->url;
    std::string const origin_url = s->origin_url;
    // The tick's view of the pause, not a call into the engine under the
    // component's lock; a pause since then stops the connection before its
    // first request.
    if (t->paused) {
        // Paused meanwhile: back to idle, so the first tick after the pause
        // connects it again instead of leaving it resolving for good.
        s->state = direct_http_source::idle;
        return;
    }
    if (ec || entries.empty()) {
        core.write_log(source_label(l.id, url) + ": lookup failed: " + ec.message());
        erase(*t, l.id);
        return;
    }
    std::vector<lt::tcp::endpoint> list;
    for (auto const& e : entries) list.push_back(e.endpoint());
    lt::tcp::endpoint const chosen = list[choose_url_seed_address(t->registry, list)];
    if (core.settings.ip_filter.access(chosen.address()) & lt::ip_filter::blocked) {
        core.write_log(source_label(l.id) + ": " + chosen.address().to_string() + " blocked by the IP filter");
        park(core, *t, *s);
        return;
    }
    std::shared_ptr<web_peer_connection> c;
    try {
        c = std::make_shared<web_peer_connection>(core, t, chosen, l.proxy ? *l.proxy : chosen, url, origin_url, l.id);
    } catch (std::exception const& e) {
        // The socket or the connection could not be made: the source waits
        // and is tried again.
        core.write_log(source_label(l.id, url) + ": no connection: " + e.what());
        park(core, *t, *s);
        return;
    }
    s->endpoint = chosen;
    s->was_connected = true;
    s->state = direct_http_source::connected;
    try {
        t->connections.push_back(c);
        c->start();
    } catch (std::exception const& e) {
        // The source stays connected: the tick finds no live connection for
        // it and connects it again.
        core.write_log(source_label(l.id, url) + ": " + e.what());
        c->disconnect(lt::errors::no_memory, 1);
    }
}

} // namespace

void engine_core::pump_connect_queue()
{
    while (!connect_queue.empty() && (max_half_open <= 0 || half_open < max_half_open)) {
        auto c = connect_queue.front().lock();
        connect_queue.pop_front();
        if (c && c->queued() && !c->disconnecting()) c->connect();
    }
}

tls_client_context const& engine_core::tls_context()
{
    if (!tls) tls = std::make_unique<tls_client_context>();
    return *tls;
}

void connect_to_url_seed(engine_core& core, std::shared_ptr<torrent_sources> const& t, std::int32_t id)
{
    direct_http_source* s = t->registry.find_direct_http_source(id);
    if (!s) return;
    std::string const url = s->url;
    lt::error_code ec;
    url_components const c = parse_url_components(url, ec);
    auto refuse = [&](lt::errors::error_code_enum e) {
        core.write_log(source_label(id, url) + ": " + lt::error_code(e).message());
        erase(*t, id);
    };
    if (ec) {
        erase(*t, id);
        return;
    }
    if (c.protocol != "http" && c.protocol != "https") return refuse(lt::errors::unsupported_url_protocol);
    if (c.host.empty()) return refuse(lt::errors::invalid_hostname);
    int const port = c.port < 0 ? default_port(c.protocol) : c.port;
    if (port == 0) return refuse(lt::errors::invalid_port);
    if (c.protocol == "https" && http_proxy(core.settings)) {
        // Requests go to an HTTP proxy as they are, without a CONNECT
        // tunnel: a TLS source would be asked in the clear, or not at all.
        core.write_log(source_label(id, url) + ": https through an HTTP proxy is not supported");
        erase(*t, id);
        return;
    }
    s->state = direct_http_source::resolving;
    lookup l{&core, t, id, core.next_lookup_serial++, nullptr, std::nullopt};
    t->registry.start_lookup(id, l.serial);
    if (http_proxy(core.settings)) {
        start_lookup(l, core.settings.proxy_hostname, core.settings.proxy_port, &on_proxy_name_lookup);
        return;
    }
    start_lookup(l, c.host, port, &on_name_lookup);
}

} // namespace tg
