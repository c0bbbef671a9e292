// Torrents added through the Direct-HTTP component for the tests.
#pragma once

#include "engine/direct_http_engine.hpp"
#include "../support/wait_until.hpp"

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tg::test {

// Adds the torrent paused until every source is in, so that all of them
// connect in the same pass rather than after the download has ended.
inline torrent_handle add_with_sources(direct_http_engine& engine, std::vector<char> const& file,
    std::filesystem::path const& save_path, std::vector<std::string> const& urls)
{
    lt::add_torrent_params atp;
    atp.ti = std::make_shared<lt::torrent_info>(file, lt::from_span);
    atp.save_path = save_path.u8string();
    atp.flags |= lt::torrent_flags::paused;
    atp.flags &= ~lt::torrent_flags::auto_managed;
    torrent_handle h = engine.add_torrent(atp, file);
    for (auto const& u : urls) h.add_url_seed(u);
    h.native_handle().resume();
    return h;
}

// The sources' rows and the torrent's status, read together once the rows'
// traffic adds up to the payload total: a second copy of the last pieces
// may still be arriving when the torrent completes. Whether they agreed
// within `limit`; the last reading either way.
inline bool settled_rows(torrent_handle& h, std::vector<peer_record>& rows, lt::torrent_status& st,
    std::chrono::seconds limit = std::chrono::seconds(10))
{
    return wait_until([&] {
        st = h.status();
        h.get_peer_info(rows);
        std::int64_t sum = 0;
        for (auto const& r : rows) sum += r.total_download;
        return sum == st.total_payload_download;
    }, limit);
}

// The component's log lines, kept for the test to read (the component
// writes them on its network thread).
class recorded_log
{
public:
    void attach(direct_http_engine& engine)
    {
        engine.set_log([this](std::string const& line) {
            std::lock_guard<std::mutex> l(m_mutex);
            m_lines.push_back(line);
        });
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_lines;
    }
    std::string text() const
    {
        std::string s;
        for (auto const& line : lines()) s += line + "\n";
        return s;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace tg::test
