#include "finishing_paths.h"

namespace tollgrove {

std::wstring InstallRelativePath(const std::wstring& installPath, const std::wstring& name)
{
    return installPath + L"\\" + name;
}

std::wstring DesktopLinkPath(const std::wstring& desktop, const std::wstring& name)
{
    return desktop + L"\\" + name + L".lnk";
}

bool NamesProgramFile(const std::wstring& runFile)
{
    const std::size_t at = runFile.find(L".exe");
    return at != std::wstring::npos && at > 0;
}

} // namespace tollgrove
