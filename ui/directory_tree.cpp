#include "directory_tree.h"

#include <shlwapi.h>

#include <cwchar>

int CreateDirectoryTree(LPCWSTR path)
{
    if (!path)
        return 1;
    if (std::wcslen(path) >= MAX_PATH)
        return 0;
    wchar_t prefix[MAX_PATH];
    LPCWSTR p = path;
    while (p && *p) {
        LPCWSTR slash = ::StrChrW(p, L'\\');
        size_t len;
        if (slash) {
            len = static_cast<size_t>(slash - path);
            p = slash + 1;
        } else {
            len = std::wcslen(path);
            p = nullptr;
        }
        std::wmemcpy(prefix, path, len); // len < MAX_PATH: the whole path fits
        prefix[len] = L'\0';
        if (!::PathFileExistsW(prefix) && !::CreateDirectoryW(prefix, nullptr))
            return 0;
    }
    return 1;
}
