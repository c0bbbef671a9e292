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

std::wstring TextUpToTerminator(const wchar_t* buffer, std::size_t capacity)
{
    std::size_t n = 0;
    while (n < capacity && buffer[n] != L'\0')
        ++n;
    return std::wstring(buffer, n);
}

bool ParseContentLength(const std::wstring& text, uint32_t& value)
{
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t'))
        ++pos;
    uint64_t v = 0;
    size_t digits = 0;
    for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos, ++digits) {
        v = v * 10 + static_cast<uint64_t>(text[pos] - L'0');
        if (v > 0xFFFFFFFFu)
            return false;
    }
    while (pos < text.size() && (text[pos] == L' ' || text[pos] == L'\t'))
        ++pos;
    if (digits == 0 || pos != text.size())
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}
