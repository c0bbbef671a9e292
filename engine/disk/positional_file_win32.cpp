// Win32 side of positional_file: CreateFileW handles read and written with
// an OVERLAPPED offset each call, so no file position is shared.
#ifdef _WIN32

#include "engine/disk/positional_file.hpp"

#include "engine/extended_path.hpp"

#include <windows.h>
#include <winioctl.h>

namespace tg {

namespace {

error_code last_error() { return error_code(int(GetLastError()), boost::system::system_category()); }

// The engine's UTF-8 path in the "\\?\" form, for every call: with a
// plain path Windows (and Wine) takes names such as "nul", "con.txt" or
// "aux.dat" as devices, where writes vanish, size queries fail or an open
// never returns; in that form they are the files the torrent names, and no
// length limit applies.
std::wstring native_path(std::string const& path)
{
    std::wstring wide;
    if (!path.empty()) {
        int const n = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
        wide.resize(std::size_t(n));
        MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), n);
    }
    std::wstring cwd;
    DWORD const need = GetCurrentDirectoryW(0, nullptr);
    if (need > 0) {
        cwd.resize(need);
        DWORD const got = GetCurrentDirectoryW(need, cwd.data());
        cwd.resize(got < need ? got : 0);
    }
    return extended_path(wide, cwd);
}

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Names where a ReadFile or WriteFile on this synchronous handle starts, so
// that no call relies on the position an earlier one left.
OVERLAPPED overlapped_at(std::int64_t offset)
{
    OVERLAPPED ov = {};
    std::uint64_t const at = std::uint64_t(offset);
    ov.Offset = DWORD(at & 0xffffffffu);
    ov.OffsetHigh = DWORD(at >> 32);
    return ov;
}

} // namespace

positional_file positional_file::open_native(std::string const& path, mode m, error_code& ec)
{
    bool const write = m == mode::read_write;
    HANDLE const h = CreateFileW(native_path(path).c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, write ? OPEN_ALWAYS : OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    positional_file f;
    if (h == INVALID_HANDLE_VALUE) {
        ec = last_error();
        return f;
    }
    if (write && GetLastError() != ERROR_ALREADY_EXISTS) {
        // A new file is marked sparse so that a block written far into it
        // does not make Windows fill the gap with zeros first. File systems
        // without sparse files refuse, and the file is then simply allocated.
        DWORD bytes = 0;
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &bytes, nullptr);
    }
    f.m_handle = reinterpret_cast<std::intptr_t>(h);
    f.m_mode = m;
    return f;
}

bool positional_file::is_open() const { return m_handle != -1; }

int positional_file::read_at(char* buf, int len, std::int64_t offset, error_code& ec)
{
    int done = 0;
    while (done < len) {
        OVERLAPPED ov = overlapped_at(offset + done);
        DWORD got = 0;
        if (!ReadFile(as_handle(m_handle), buf + done, DWORD(len - done), &got, &ov)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            ec = last_error();
            return -1;
        }
        if (got == 0)
            break;
        done += int(got);
    }
    return done;
}

int positional_file::write_native_at(char const* buf, int len, std::int64_t offset, error_code& ec)
{
    int done = 0;
    while (done < len) {
        OVERLAPPED ov = overlapped_at(offset + done);
        DWORD put = 0;
        if (!WriteFile(as_handle(m_handle), buf + done, DWORD(len - done), &put, &ov)) {
            ec = last_error();
            return done;
        }
        if (put == 0) {
            ec = error_code(ERROR_DISK_FULL, boost::system::system_category());
            return done;
        }
        done += int(put);
    }
    return done;
}

int positional_file::write_parts_at(std::vector<part> const& parts, std::int64_t offset, std::vector<char>& staging,
    error_code& ec)
{
    if (parts.size() == 1)
        return write_at(parts.front().data, parts.front().size, offset, ec);
    staging.clear();
    for (part const& p : parts)
        staging.insert(staging.end(), p.data, p.data + p.size);
    return write_at(staging.data(), int(staging.size()), offset, ec);
}

bool positional_file::flush(error_code& ec)
{
    if (!FlushFileBuffers(as_handle(m_handle))) {
        ec = last_error();
        return false;
    }
    return true;
}

bool positional_file::close(error_code& ec)
{
    if (m_handle == -1)
        return true;
    HANDLE const h = as_handle(m_handle);
    m_handle = -1;
    if (!CloseHandle(h)) {
        ec = last_error();
        return false;
    }
    return true;
}

std::int64_t file_size_at(std::string const& path, error_code& ec)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(native_path(path).c_str(), GetFileExInfoStandard, &data)) {
        ec = last_error();
        return -1;
    }
    return (std::int64_t(data.nFileSizeHigh) << 32) | std::int64_t(data.nFileSizeLow);
}

bool create_folders(std::string const& dir, error_code& ec)
{
    if (dir.empty())
        return true;
    std::wstring const wide = native_path(dir);
    DWORD const attr = GetFileAttributesW(wide.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES)
        return true;
    std::string const parent = parent_folder(dir);
    if (!parent.empty() && parent != dir && !create_folders(parent, ec))
        return false;
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        ec = last_error();
        return false;
    }
    return true;
}

bool rename_path(std::string const& from, std::string const& to, error_code& ec)
{
    if (!MoveFileExW(native_path(from).c_str(), native_path(to).c_str(),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        ec = last_error();
        return false;
    }
    return true;
}

bool remove_path(std::string const& path, error_code& ec)
{
    std::wstring const wide = native_path(path);
    DWORD const attr = GetFileAttributesW(wide.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES)
        return true;
    BOOL const ok = (attr & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str());
    if (!ok) {
        DWORD const e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
            return true;
        ec = error_code(int(e), boost::system::system_category());
        return false;
    }
    return true;
}

std::string parent_folder(std::string const& path)
{
    auto const sep = path.find_last_of("/\\");
    if (sep == std::string::npos)
        return {};
    // "C:\name": the parent is the drive's root, kept with its separator.
    if (sep == 2 && path.size() > 1 && path[1] == ':')
        return path.substr(0, 3);
    if (sep == 0)
        return path.substr(0, 1);
    return path.substr(0, sep);
}

} // namespace tg

#endif // _WIN32
