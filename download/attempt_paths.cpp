#include "attempt_paths.h"

namespace tollgrove {

std::wstring TorrentFileNameFromUrl(const std::wstring& url)
{
    const auto slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(slash + 1);
}

std::wstring StatePathFor(const std::wstring& torrentPath, const std::wstring& extension)
{
    const auto dot = torrentPath.rfind(L'.');
    return (dot == std::wstring::npos ? std::wstring() : torrentPath.substr(0, dot)) + extension;
}

} // namespace tollgrove
