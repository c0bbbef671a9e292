// Torrents added through the Direct-HTTP component for the tests.
#pragma once

#include "engine/direct_http_engine.hpp"

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/torrent_flags.hpp>
#include <libtorrent/torrent_info.hpp>

#include <filesystem>
#include <memory>
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

} // namespace tg::test
