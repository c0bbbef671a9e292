// What the Direct-HTTP sources of one torrent learnt about each URL they were
// added with: pieces that failed their hash, answers that ignored Range, and
// the waits after "503". A URL that keeps failing is given up for a while,
// a busy one is left alone until its wait ends; sources added for it meanwhile
// wait too. Plain data and free functions; used under the component's lock.
#pragma once

#include "engine/source_clock.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tg {

struct url_state
{
    int failed_pieces = 0;   // pieces that failed their hash since the last good one
    bool trusted = false;    // a piece passed its hash since the last failure
    int ignored_ranges = 0;  // 200 answers with the whole file instead of the range
    time_point given_up_until{};
    time_point busy_until{}; // after a 503
    int busy_in_a_row = 0;   // 503 answers since the URL last served a block
    // The most requests one connection sends, learnt from a server that
    // closed connections after that many answers with more asked; 0 while
    // it has not.
    int requests_per_connection = 0;
};

using url_health = std::map<std::string, url_state>;

// How long a URL that failed is given up.
constexpr std::chrono::minutes give_up_time{10};
// Answers that ignore Range before the URL is given up.
constexpr int ignored_ranges_to_give_up = 3;
// The longest wait a server's Retry-After obtains, and the longest back-off.
constexpr int max_retry_after_seconds = 3600;
constexpr int max_busy_backoff_seconds = 300;
// Redirects a source follows in a row before it ends.
constexpr int max_redirects = 5;
// A connection whose pieces gain no whole block for this long gives them back.
constexpr std::chrono::seconds stalled_piece_time{60};

// Failed pieces (with no good one since) that give a URL up; also the pieces
// a URL without a good piece since its last failure may have under way or
// waiting for their hash at once. A few, fewer for a game of few pieces, so
// that a server with wrong files costs far less than the game.
int untrusted_piece_limit(int num_pieces);

// The time before which no source of the URL connects; time_point{} or a
// past time when it may.
time_point url_wait_end(url_health const& h, std::string const& url);

// Seconds a "Retry-After" field asks for: a number of seconds, or an HTTP
// date taken against `date` (the response's Date field) or, without one, the
// system clock's `now_epoch`. Bounded to an hour; -1 when absent or unreadable.
int retry_after_seconds(std::string_view retry_after, std::string_view date, std::int64_t now_epoch);

// The wait after the `in_a_row`-th 503 in a row (1 for the first): the
// server's Retry-After when it gave one, else a back-off from 5 seconds,
// doubling, up to 5 minutes; never less than `wait_retry` (urlseed_wait_retry).
int busy_wait_seconds(int retry_after, int wait_retry, int in_a_row);

} // namespace tg
