// The Direct-HTTP sources of one torrent: records by ascending number.
#pragma once

#include "engine/direct_http_source.hpp"
#include "engine/peer_record.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tg {

// Threads: every operation runs with the component's lock held (the handle
// operations on the caller's thread, the tick and the connection callbacks on
// the component's network thread). Each operation also takes the registry's
// own recursive lock for its run; that lock is always taken after the
// component's, never before it. None blocks beyond those locks.
class source_registry
{
public:
    explicit source_registry(source_clock const& clock);

    // One more source for `url`, numbered with the smallest free number. The
    // URL is neither checked nor compared: the connect step finds bad ones.
    void add_url_seed(std::string const& url);
    // Marks the first source (ascending number) added with a URL equal to
    // `url` byte for byte (whatever a redirect made of it since) as
    // removing; repeated calls mark that same record again.
    void remove_url_seed(std::string const& url);
    // Erases a source that failed for good, with its lookup serial; an
    // unknown number changes nothing.
    void remove_direct_http_source(std::int32_t id);
    // Parks a source in retry_wait until `wait_seconds` from now.
    void retry_later(direct_http_source& s, int wait_seconds);
    // The serial of the source's latest name lookup: a completion whose
    // serial is no longer current belongs to an erased source whose number
    // was handed out again.
    void start_lookup(std::int32_t id, std::uint64_t serial);
    bool lookup_current(std::int32_t id, std::uint64_t serial);
    // The record, or null when the number is not in use. The pointer stays
    // valid while the caller holds the component's lock.
    direct_http_source* find_direct_http_source(std::int32_t id);
    // Whether a source that is not removing recorded the same IP address
    // (family, bytes, IPv6 scope id); ports do not count.
    bool direct_http_address_in_use(lt::tcp::endpoint ep);
    // Records in every state, removing ones included.
    int num_url_seeds();

    // Rows for the sources that were connected once, are not removing and
    // whose live connection did not report itself in this collection; then
    // clears every reported flag. Each row takes a rate sample.
    void append_rows_without_connection(std::vector<peer_record>& v);

    // The tick's connect step: runs `connect` for each of `ids` in order. A
    // source whose step throws is parked in retry_wait for `wait_seconds`
    // instead of staying connect_pending or resolving, where no pass moves
    // it, and the ids after it still run. Returns what each exception said.
    std::vector<std::string> connect_each(std::vector<std::int32_t> const& ids, int wait_seconds,
        std::function<void(std::int32_t)> const& connect);

    // For the tick: the lock, and the map to walk while holding it.
    std::recursive_mutex& mutex() { return m_mutex; }
    std::map<std::int32_t, direct_http_source>& sources() { return m_sources; }
    // Erases a record (and its lookup serial) from inside a walk; returns
    // the next position.
    std::map<std::int32_t, direct_http_source>::iterator erase(
        std::map<std::int32_t, direct_http_source>::iterator it);
    source_clock const& clock() const { return m_clock; }

    // The most records a torrent holds (the count is 16 bits wide).
    static constexpr int max_sources = 32767;

private:
    source_clock const& m_clock;
    std::recursive_mutex m_mutex;
    std::map<std::int32_t, direct_http_source> m_sources;
    std::map<std::int32_t, std::uint64_t> m_lookups;
    std::int16_t m_count = 0;
};

} // namespace tg
