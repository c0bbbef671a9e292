// The web-seed URLs a .torrent file lists, read from its own bytes.
#pragma once

#include <libtorrent/span.hpp>

#include <string>
#include <vector>

namespace tg {

// "url-list" then "httpseeds", each one string or a list of which every
// string element counts (other elements are skipped), in file order, bytes
// exactly as the file holds them. The engine's own parser drops repeats and
// re-escapes URLs, so the lists are read here from the file instead. A buffer
// that does not decode to a dictionary lists nothing. Any thread; throws
// nothing.
std::vector<std::string> torrent_file_source_urls(lt::span<char const> torrent_file);

} // namespace tg
