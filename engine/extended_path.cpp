#include "engine/extended_path.hpp"

#include <vector>

namespace tg {

namespace {

bool is_sep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool has_drive(std::wstring const& p) { return p.size() >= 2 && is_letter(p[0]) && p[1] == L':'; }

bool starts_with(std::wstring const& s, wchar_t const* prefix) { return s.rfind(prefix, 0) == 0; }

// "\\?\UNC\server\share\x" and "\\?\C:\x" back to "\\server\share\x" and
// "C:\x", so that a current folder in that form joins like any other.
std::wstring without_prefix(std::wstring const& p)
{
    if (starts_with(p, L"\\\\?\\UNC\\"))
        return L"\\\\" + p.substr(8);
    if (starts_with(p, L"\\\\?\\"))
        return p.substr(4);
    return p;
}

bool is_absolute(std::wstring const& p)
{
    return (has_drive(p) && p.size() >= 3 && is_sep(p[2])) || (p.size() >= 2 && is_sep(p[0]) && is_sep(p[1]));
}

// Splits `rest` into segments and resolves "." and ".." (never above the
// root), trimming as Windows trims plain paths.
std::wstring join_clean(std::wstring root, std::wstring const& rest)
{
    std::vector<std::wstring> parts;
    std::size_t i = 0;
    while (i <= rest.size()) {
        std::size_t j = i;
        while (j < rest.size() && !is_sep(rest[j]))
            ++j;
        std::wstring seg = rest.substr(i, j - i);
        bool const last = j >= rest.size();
        i = j + 1;
        if (seg.empty() || seg == L".")
            continue;
        if (seg == L"..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        if (last) {
            while (!seg.empty() && (seg.back() == L'.' || seg.back() == L' '))
                seg.pop_back();
        } else if (seg.back() == L'.' && seg[seg.size() - 2] != L'.') {
            seg.pop_back();
        }
        if (!seg.empty())
            parts.push_back(std::move(seg));
    }
    for (auto const& p : parts)
        root += L"\\" + p;
    if (parts.empty())
        root += L"\\";
    return root;
}

} // namespace

std::wstring extended_path(std::wstring const& path, std::wstring const& current_dir)
{
    if (starts_with(path, L"\\\\?\\") || starts_with(path, L"\\\\.\\"))
        return path;

    if (path.size() >= 2 && is_sep(path[0]) && is_sep(path[1])) {
        // "\\server\share\rest": the server and the share are the root.
        std::size_t const server_end = path.find_first_of(L"\\/", 2);
        if (server_end == std::wstring::npos)
            return L"\\\\?\\UNC\\" + path.substr(2);
        std::size_t share_end = path.find_first_of(L"\\/", server_end + 1);
        if (share_end == std::wstring::npos)
            share_end = path.size();
        std::wstring const root = L"\\\\?\\UNC\\" + path.substr(2, server_end - 2) + L"\\"
            + path.substr(server_end + 1, share_end - server_end - 1);
        return join_clean(root, path.substr(share_end));
    }
    if (has_drive(path) && path.size() >= 3 && is_sep(path[2]))
        return join_clean(L"\\\\?\\" + path.substr(0, 2), path.substr(2));
    if (has_drive(path) && path.size() == 2)
        return L"\\\\?\\" + path + L"\\";

    std::wstring const cwd = without_prefix(current_dir);
    if (!is_absolute(cwd))
        return path;
    if (has_drive(path)) {
        // "X:name": relative to X's current folder, which only the current
        // folder itself tells; another drive's is taken as its root.
        bool const same = has_drive(cwd) && (cwd[0] | 0x20) == (path[0] | 0x20);
        std::wstring const base = same ? cwd : path.substr(0, 2) + L"\\";
        return extended_path(base + L"\\" + path.substr(2), cwd);
    }
    if (!path.empty() && is_sep(path[0])) {
        // "\name": the root of the current folder's drive or share.
        if (has_drive(cwd))
            return extended_path(cwd.substr(0, 2) + path, cwd);
        std::size_t const server_end = cwd.find_first_of(L"\\/", 2);
        std::size_t const share_end =
            server_end == std::wstring::npos ? std::wstring::npos : cwd.find_first_of(L"\\/", server_end + 1);
        return extended_path(cwd.substr(0, share_end) + path, cwd);
    }
    return extended_path(cwd + L"\\" + path, cwd);
}

} // namespace tg
