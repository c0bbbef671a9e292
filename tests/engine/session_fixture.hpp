// A real engine session on 127.0.0.1 and torrents made for the test.
#pragma once

#include "../support/temp_dir.hpp"
#include "../support/torrent_maker.hpp"
#include "../support/wait_until.hpp"

#include "engine/file_disk_io.hpp"
#include "session_options.h"

#include <libtorrent/bencode.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/entry.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tg::test {

// The program's own session settings (loopback only, the options'
// defaults), and on top: any free port, so that tests run side by side; no
// DHT, which no test here needs; and the engine's 20 s source inactivity
// time-out in place of the program's 30 s, since a hostile-source case
// waits one out within its minute.
inline lt::settings_pack loopback_settings()
{
    lt::settings_pack s = tollgrove::MakeSessionSettings(tollgrove::SessionOptions{}, true);
    s.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    s.set_bool(lt::settings_pack::enable_dht, false);
    s.set_int(lt::settings_pack::urlseed_timeout, 20);
    return s;
}

// Session parameters with the program's own disk I/O, as every session
// the program creates has.
inline lt::session_params with_file_disk_io(lt::settings_pack s)
{
    lt::session_params p(std::move(s));
    p.disk_io_constructor = tg::file_disk_io_constructor;
    return p;
}

struct test_file
{
    std::string path; // inside the torrent, "/" separated
    std::int64_t size;
};

// Deterministic file contents, so any byte can be checked anywhere.
inline char content_byte(std::uint32_t file_index, std::int64_t offset)
{
    std::uint64_t x = (std::uint64_t(file_index) << 40) ^ std::uint64_t(offset) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    return char(x * 0xBF58476D1CE4E5B9ull >> 56);
}

// Writes the files under dir/<name>/... (multi-file) or dir/<name>
// (single-file) and makes their .torrent (`edit` and `flags` as
// bencoded_torrent takes them).
inline std::vector<char> make_torrent(std::filesystem::path const& dir, std::string const& name,
                                      std::vector<test_file> const& files, int piece_length,
                                      std::function<void(lt::entry&)> const& edit = {},
                                      lt::create_flags_t flags = lt::create_torrent::v1_only)
{
    lt::file_storage fs;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string const rel = files.size() == 1 ? name : name + "/" + files[i].path;
        std::filesystem::path p = dir / std::filesystem::u8path(rel);
        std::filesystem::create_directories(p.parent_path());
        std::vector<char> data(std::size_t(files[i].size));
        for (std::size_t k = 0; k < data.size(); ++k)
            data[k] = content_byte(std::uint32_t(i), std::int64_t(k));
        write_file(p, data);
        fs.add_file(rel, files[i].size);
    }
    return bencoded_torrent(fs, dir, piece_length, edit, flags);
}

} // namespace tg::test
