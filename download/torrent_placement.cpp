#include "torrent_placement.h"

namespace tollgrove {

std::optional<std::wstring> PlacedFilePath(const std::wstring& installPath, const std::wstring& filePath)
{
    auto sep = filePath.find(L'/');
    if (sep == std::wstring::npos)
        sep = filePath.find(L'\\');
    if (sep == std::wstring::npos)
        return std::nullopt;
    return installPath + filePath.substr(sep);
}

std::wstring FirstSourceUrl(const std::wstring& linkHttp, int numFiles)
{
    if (numFiles == 1)
        return L"http://" + linkHttp;
    const auto slash = linkHttp.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : linkHttp.substr(0, slash + 1);
}

} // namespace tollgrove
