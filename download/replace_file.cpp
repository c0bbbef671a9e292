#include "replace_file.h"

#ifdef _WIN32
#include <windows.h>

#include "win_handles.h"
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <system_error>

namespace tollgrove {

std::filesystem::path TemporaryPathFor(const std::filesystem::path& path)
{
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    return tmp;
}

namespace {

#ifdef _WIN32

// Writes `bytes` into a new file at `tmp` and waits until they are on the
// disk, so the rename below never publishes a file whose data is still
// only in the cache.
bool WriteDurably(const std::filesystem::path& tmp, const std::vector<char>& bytes)
{
    FileHandle file(
        ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = ::WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file.Get());
    // Closed here rather than by the owner: a failed close can be the
    // write's failure, reported late.
    ok = ::CloseHandle(file.Detach()) && ok;
    return ok;
}

// One rename that replaces the old file; it returns only once the change
// of name is on the disk too.
bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

bool WriteDurably(const std::filesystem::path& tmp, const std::vector<char>& bytes)
{
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

} // namespace

bool ReplaceFileContents(const std::filesystem::path& path, const std::vector<char>& bytes)
{
    const std::filesystem::path tmp = TemporaryPathFor(path);
    if (WriteDurably(tmp, bytes) && MoveOver(tmp, path))
        return true;
    std::error_code ec;
    // Only a file of ours: a folder of that name is someone else's.
    if (std::filesystem::is_regular_file(tmp, ec))
        std::filesystem::remove(tmp, ec);
    return false;
}

} // namespace tollgrove
