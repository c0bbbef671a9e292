// The one .torrent maker of the C++ tests and benchmarks: the bencoded
// torrent of files already on disk. The Python side (the publisher of the
// whole-program runs and the demo) makes its own with the engine's Python
// binding, since it runs where no C++ test support is built.
#pragma once

#include <libtorrent/bencode.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/entry.hpp>
#include <libtorrent/file_storage.hpp>

#include <filesystem>
#include <functional>
#include <iterator>
#include <vector>

namespace tg::test {

// `fs` names the files relative to `dir` (the engine's maker takes it by
// reference to change). `edit` may change the entry (the url-list and
// httpseeds forms) before it is encoded. Version-1 torrents without pad
// files, as publishers make them, unless `flags` say otherwise (no flags:
// the engine's default hybrid torrent with pad files).
inline std::vector<char> bencoded_torrent(lt::file_storage& fs, std::filesystem::path const& dir, int piece_length,
                                          std::function<void(lt::entry&)> const& edit = {},
                                          lt::create_flags_t flags = lt::create_torrent::v1_only)
{
    lt::create_torrent ct(fs, piece_length, flags);
    lt::set_piece_hashes(ct, dir.u8string());
    lt::entry e = ct.generate();
    if (edit)
        edit(e);
    std::vector<char> buf;
    lt::bencode(std::back_inserter(buf), e);
    return buf;
}

} // namespace tg::test
