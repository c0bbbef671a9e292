#include "install_path_rules.h"

namespace tollgrove {

namespace {

// The C runtime's case-blind comparison in its default locale folds only
// the ASCII letters.
wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

} // namespace

std::wstring ProposedInstallPath(const std::wstring& gameFolder)
{
    return L"C:\\" + gameFolder;
}

std::wstring BrowsedInstallPath(const std::wstring& folder, const std::wstring& gameFolder)
{
    const std::size_t n = gameFolder.size();
    const std::wstring tail = folder.size() > n ? folder.substr(folder.size() - n) : folder;
    if (EqualIgnoringAsciiCase(tail, gameFolder))
        return folder;
    return folder + L"\\" + gameFolder;
}

} // namespace tollgrove
