// How a torrent's files and its first HTTP source follow from the install
// folder and the configured file-server address. Portable.
#pragma once

#include <optional>
#include <string>

namespace tollgrove {

// Narrow strings for the engine's interface (the .torrent and resume paths,
// the source URL). Only characters up to U+00FF are accepted, anything else
// gives the empty string; the engine of this build reads narrow paths as
// UTF-8, so the accepted characters are written in UTF-8. A result longer
// than `maxBytes` (the fixed buffers hold 259 bytes and a terminator) is
// refused the same way rather than cut.
std::string NarrowForEngine(const std::wstring& text, std::size_t maxBytes = 259);

// The path a torrent file is placed at: the install folder followed by the
// file's path from its first '/' (else first '\') on, separator included,
// so the torrent's top folder is replaced by the install folder itself.
// Nothing when the path has no separator: the file keeps its path.
std::optional<std::wstring> PlacedFilePath(const std::wstring& installPath, const std::wstring& filePath);

// The first source's URL: "http://" + linkHttp for a one-file torrent, else
// linkHttp up to and including its last '/' (empty when it has none).
std::wstring FirstSourceUrl(const std::wstring& linkHttp, int numFiles);

// UTF-8 <-> UTF-16 for the engine's file names and peers' client names.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace tollgrove
