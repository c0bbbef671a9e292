// How a torrent's files and its first HTTP source follow from the install
// folder and the configured file-server address. Portable.
#pragma once

#include <optional>
#include <string>

namespace tollgrove {

// The path a torrent file is placed at: the install folder followed by the
// file's path from its first '/' (else first '\') on, separator included,
// so the torrent's top folder is replaced by the install folder itself.
// Nothing when the path has no separator: the file keeps its path.
std::optional<std::wstring> PlacedFilePath(const std::wstring& installPath, const std::wstring& filePath);

// The first source's URL: "http://" + linkHttp for a one-file torrent, else
// linkHttp up to and including its last '/' (empty when it has none).
std::wstring FirstSourceUrl(const std::wstring& linkHttp, int numFiles);

} // namespace tollgrove
