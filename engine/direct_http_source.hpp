// One Direct-HTTP source: a numbered HTTP connection slot of a torrent.
#pragma once

#include "engine/source_clock.hpp"

#include <libtorrent/address.hpp>
#include <libtorrent/socket.hpp>

#include <cstdint>
#include <string>

namespace tg {

struct direct_http_source
{
    enum state_t : std::int16_t {
        idle = 0,            // new, or its URL was replaced by a redirect
        connect_pending = 1, // picked by the tick, connected in the same tick
        retry_wait = 2,      // waits until retry_at
        resolving = 3,       // host (or proxy) name lookup under way
        connected = 4,       // a connection has been created for it
        removing = 5         // retired; erased once no live connection serves it
    };

    // `now` is the component clock's time at construction; it starts the
    // first rate sample and is also the initial retry_at, so a source parked
    // in retry_wait without a written retry_at is never left with an
    // undefined time.
    direct_http_source(std::string url, std::int32_t id, time_point now);

    std::int32_t id;
    std::string url;
    // The URL it was added with: a redirect replaces `url`, never this, so
    // remove_url_seed still finds it and its URL's record still counts.
    std::string origin_url;
    // Redirects since the source last received a block.
    int redirects = 0;
    time_point retry_at;
    state_t state = idle;
    lt::tcp::endpoint endpoint{lt::address_v4(), 0};
    std::string client;
    bool reported = false;
    bool was_connected = false;
    std::int64_t total_download = 0;
    std::int64_t sampled_download = 0;
    std::int64_t total_upload = 0;
    std::int64_t sampled_upload = 0;
    time_point sample_time;
    // The log's memory of the source's failures: the last reason written
    // and how often it recurred since.
    std::string last_failure;
    int repeated_failures = 0;

    // Any thread holding the component's lock; never block.
    std::string client_name() const { return client; }
    // Bytes per second since the last sample, whole numbers; the callers
    // store them in 32-bit speed fields.
    std::int64_t download_rate(time_point now) const;
    std::int64_t upload_rate(time_point now) const;
    void take_rate_sample(time_point now);
};

// How the log names a source: "Direct HTTP source N", then, with `url`, the
// URL without its credentials.
std::string source_label(std::int32_t id);
std::string source_label(std::int32_t id, std::string const& url);

// The rate rule on its own: bytes since a sample taken at `since`, per second.
std::int64_t bytes_per_second(std::int64_t bytes, time_point since, time_point now);

} // namespace tg
