// Names derived from the configuration for one download attempt. Portable.
#pragma once

#include <string>

namespace tollgrove {

// The .torrent file's name: the URL's text after its last '/', the whole URL
// when it has none (a query string stays part of the name).
std::wstring TorrentFileNameFromUrl(const std::wstring& url);

// The .torrent path cut before its last '.' (searched in the whole path,
// folders included; nothing left when there is none) plus `extension`.
std::wstring StatePathFor(const std::wstring& torrentPath, const std::wstring& extension);

} // namespace tollgrove
