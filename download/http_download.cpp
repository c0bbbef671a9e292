#include "http_download.h"

#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include <vector>

#include "engine/load_file.hpp"
#include "internet_request.h"
#include "support_formats.h"
#include "win_handles.h"

namespace {
constexpr size_t kPathBufferChars = 260;
constexpr DWORD kChunkBytes = 65536;
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kOpenUrlFlags == 0x84400100, "the fetch's request flags");

// The engine loads no .torrent above its cap.
constexpr uint32_t kMaxTorrentBytes = static_cast<uint32_t>(tg::load_file_size_cap);
static_assert(kMaxTorrentBytes == 15728640, "the engine's file cap");

// The body goes to a name beside the target and takes the target's name
// only when whole, so a failed fetch leaves no truncated .torrent.
std::wstring PartialPathFor(const std::wstring& path)
{
    return path + L".part";
}

std::wstring CurrentDirectory()
{
    wchar_t buffer[kPathBufferChars] = {};
    const DWORD n = GetCurrentDirectoryW(kPathBufferChars, buffer);
    // A directory that does not fit leaves no root to test: not enough room.
    if (n == 0 || n >= kPathBufferChars)
        return std::wstring();
    return buffer;
}
} // namespace

int32_t RunDownloadJob(DownloadJob& job, DownloadError& error)
{
    MakeDirectoryPath(ParentFolderOf(job.path));
    const DWORD attributes = GetFileAttributesW(job.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(job.path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    job.result = HttpDownloadToFile(job.url, job.progress, error, job.path, job.cancel) ? 1 : 0;
    return job.result;
}

void MakeDirectoryPath(const std::wstring& folder)
{
    if (folder.empty() || folder.size() >= kPathBufferChars)
        return;
    if (PathFileExistsW(folder.c_str()))
        return;
    size_t pos = 0;
    for (;;) {
        const size_t slash = folder.find(L'\\', pos);
        const std::wstring prefix = slash == std::wstring::npos ? folder : folder.substr(0, slash);
        if (!prefix.empty() && !PathFileExistsW(prefix.c_str()))
            CreateDirectoryW(prefix.c_str(), nullptr);
        if (slash == std::wstring::npos || slash + 1 >= folder.size())
            break;
        pos = slash + 1;
    }
}

RequestLimits TorrentFetchLimits()
{
    RequestLimits limits;
    limits.sizeCap = kMaxTorrentBytes;
    return limits;
}

bool HttpDownloadToFile(const std::wstring& url, IStatusCallback* progress, DownloadError& error,
                        const std::wstring& path, const std::atomic<BOOL>* cancel, const RequestLimits& limits,
                        const RequestClock* clock)
{
    error = DLERR_OK;
    if (progress && !progress->OnProgress(0, 0)) {
        error = DLERR_CANCELLED;
        return false;
    }
    const auto failed = [&](DownloadError why) {
        // A stop asked while a call was blocked is the sink's cancel, not
        // a network failure.
        error = GetLastError() == ERROR_CANCELLED && cancel && cancel->load() ? DLERR_CANCELLED : why;
        return false;
    };

    InternetRequest request(limits, cancel, clock);
    if (!request.Open(url, std::wstring(), kOpenUrlFlags))
        return failed(request.SessionFailed() ? DLERR_INTERNET_OPEN : DLERR_HTTP);
    DWORD status = 0;
    if (!request.QueryStatus(status) || (status != 200 && status != 206))
        return failed(DLERR_HTTP);
    // A bigger answer than the caller can take is refused before it reaches
    // the disk.
    uint32_t contentLength = 0;
    if (!QueryBodyLength(request, contentLength))
        return failed(DLERR_HTTP);

    const std::wstring partial = PartialPathFor(path);
    FileHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        error = DLERR_CREATE_FILE;
        return false;
    }
    const auto discard = [&](DownloadError why) {
        failed(why);
        file.Close();
        DeleteFileW(partial.c_str());
        return false;
    };

    std::vector<unsigned char> chunk(kChunkBytes);
    uint32_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!request.Read(chunk.data(), kChunkBytes, got))
            return discard(DLERR_HTTP);
        if (got == 0)
            break;
        // Never more than was announced: a body that runs on past its
        // Content-Length is not the file the header described.
        if (got > contentLength - total)
            return discard(DLERR_HTTP);
        DWORD written = 0;
        if (!WriteFile(file.Get(), chunk.data(), got, &written, nullptr) || written < got)
            return discard(WriteFailureError(path, got));
        total += written;
        if (progress && !progress->OnProgress(total, contentLength))
            return discard(DLERR_CANCELLED);
    }
    FlushFileBuffers(file.Get());
    file.Close();
    if (total != contentLength) {
        DeleteFileW(partial.c_str());
        return false; // the error stays 0
    }
    if (!MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(partial.c_str());
        error = DLERR_CREATE_FILE;
        return false;
    }
    return true;
}

bool HasEnoughFreeSpace(const std::wstring& root, uint32_t bytes)
{
    ULONGLONG freeBytes = 0;
    LibraryHandle kernel(LoadLibraryW(L"KERNEL32.DLL"));
    if (kernel.Get() && !root.empty() && GetLogicalDrives() != 0 && GetDriveTypeW(root.c_str()) == DRIVE_FIXED) {
        using FreeSpaceFn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
        // Without the extended query the drive counts as having no room.
        auto query = reinterpret_cast<FreeSpaceFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel.Get(), "GetDiskFreeSpaceExW")));
        ULARGE_INTEGER available = {}, totalBytes = {}, totalFree = {};
        if (query && query(root.c_str(), &available, &totalBytes, &totalFree))
            freeBytes = available.QuadPart;
    }
    return freeBytes > bytes;
}

DownloadError WriteFailureError(const std::wstring& path, uint32_t chunkSize)
{
    const std::wstring root = FreeSpaceRootFor(path, CurrentDirectory());
    return HasEnoughFreeSpace(root, chunkSize) ? DLERR_WRITE_FILE : DLERR_DISK_FULL;
}
