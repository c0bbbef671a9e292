#include "support_formats.h"

#include <cstdio>
#include <cwchar>

std::wstring UpdateLogFileName(const LocalTimeFields& t)
{
    wchar_t buf[64];
    std::swprintf(buf, sizeof buf / sizeof buf[0], L"logs\\update%u%02u.txt", t.year, t.month);
    return buf;
}

std::string UpdateLogLine(const LocalTimeFields& t, const std::string& text)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%u%02u%02u%02u%02u%02u ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return stamp + text + "\n";
}

std::wstring FreeSpaceRootFor(const std::wstring& targetPath, const std::wstring& currentDirectory)
{
    if (targetPath.size() >= 3 && targetPath[1] == L':' && targetPath[2] == L'\\')
        return targetPath.substr(0, 3);
    return currentDirectory.substr(0, 3);
}

std::wstring ParentFolderOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
