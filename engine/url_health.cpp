#include "engine/url_health.hpp"

#include "engine/http_date.hpp"

#include <algorithm>

namespace tg {

int untrusted_piece_limit(int num_pieces)
{
    return std::clamp(num_pieces / 4, 1, 4);
}

time_point url_wait_end(url_health const& h, std::string const& url)
{
    auto it = h.find(url);
    if (it == h.end()) return time_point{};
    return std::max(it->second.given_up_until, it->second.busy_until);
}

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

int retry_after_seconds(std::string_view retry_after, std::string_view date, std::int64_t now_epoch)
{
    retry_after = trimmed(retry_after);
    if (retry_after.empty()) return -1;
    if (std::all_of(retry_after.begin(), retry_after.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Digits past what an hour needs only make it longer: no overflow.
        std::int64_t v = 0;
        for (char c : retry_after) {
            v = v * 10 + (c - '0');
            if (v > max_retry_after_seconds) return max_retry_after_seconds;
        }
        return int(v);
    }
    http_date when;
    if (!parse_http_date(retry_after, when)) return -1;
    http_date server_now;
    std::int64_t const now = parse_http_date(date, server_now) ? seconds_since_epoch(server_now) : now_epoch;
    std::int64_t const wait = seconds_since_epoch(when) - now;
    return int(std::clamp<std::int64_t>(wait, 0, max_retry_after_seconds));
}

int busy_wait_seconds(int retry_after, int wait_retry, int in_a_row)
{
    int wait = retry_after;
    if (wait < 0) {
        int const doublings = std::clamp(in_a_row - 1, 0, 16);
        wait = std::min(max_busy_backoff_seconds, 5 << doublings);
    }
    return std::min(max_retry_after_seconds, std::max(wait, wait_retry));
}

} // namespace tg
