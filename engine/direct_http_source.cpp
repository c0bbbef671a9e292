#include "engine/direct_http_source.hpp"

#include "engine/url_components.hpp"

#include <chrono>
#include <utility>

namespace tg {

direct_http_source::direct_http_source(std::string url_, std::int32_t id_, time_point now)
    : id(id_), url(std::move(url_)), origin_url(url), retry_at(now), sample_time(now)
{
}

std::string source_label(std::int32_t id)
{
    return "Direct HTTP source " + std::to_string(id);
}

std::string source_label(std::int32_t id, std::string const& url)
{
    return source_label(id) + " " + loggable_url(url);
}

std::int64_t bytes_per_second(std::int64_t bytes, time_point since, time_point now)
{
    // Whole milliseconds, truncated, in 32 bits; no measurable time counts as
    // one millisecond so the division is always defined.
    auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count();
    std::int32_t elapsed = std::int32_t(ms);
    if (elapsed <= 0) elapsed = 1;
    return (bytes * 1000) / elapsed;
}

std::int64_t direct_http_source::download_rate(time_point now) const
{
    return bytes_per_second(total_download - sampled_download, sample_time, now);
}

std::int64_t direct_http_source::upload_rate(time_point now) const
{
    return bytes_per_second(total_upload - sampled_upload, sample_time, now);
}

void direct_http_source::take_rate_sample(time_point now)
{
    sampled_download = total_download;
    sampled_upload = total_upload;
    sample_time = now;
}

} // namespace tg
