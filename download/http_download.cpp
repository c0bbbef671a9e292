#include "http_download.h"

#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include <vector>

#include "support_formats.h"
#include "win_handles.h"

namespace {
constexpr size_t kPathBufferChars = 260;
constexpr DWORD kChunkBytes = 65536;
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kOpenUrlFlags == 0x84400100, "the fetch's request flags");

bool QueryNumber(HINTERNET request, DWORD what, DWORD& value)
{
    DWORD size = sizeof value;
    value = 0;
    return HttpQueryInfoW(request, what | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr) != FALSE;
}

// The header as text, parsed strictly: WinINet's own number conversion
// reads text without digits as 0, which would pass for an empty body.
bool QueryContentLength(HINTERNET request, uint32_t& value)
{
    wchar_t text[64] = {};
    DWORD size = sizeof text - sizeof text[0]; // bytes, room kept for the terminator
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return false; // missing, or too long to be a 32-bit count
    // The returned size is not trusted for its unit: the zero-filled
    // buffer ends the text.
    return ParseContentLength(TextUpToTerminator(text, ARRAYSIZE(text) - 1), value);
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
    job.result = HttpDownloadToFile(job.url, job.progress, error, job.path) ? 1 : 0;
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

bool HttpDownloadToFile(const std::wstring& url, IStatusCallback* progress, DownloadError& error,
                        const std::wstring& path)
{
    error = DLERR_OK;
    if (progress && !progress->OnProgress(0, 0)) {
        error = DLERR_CANCELLED;
        return false;
    }

    InternetHandle session(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session.IsValid()) {
        error = DLERR_INTERNET_OPEN;
        return false;
    }
    InternetHandle request(InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0, kOpenUrlFlags, 0));
    if (!request.IsValid()) {
        error = DLERR_HTTP;
        return false;
    }
    DWORD status = 0;
    if (!QueryNumber(request.Get(), HTTP_QUERY_STATUS_CODE, status) || (status != 200 && status != 206)) {
        error = DLERR_HTTP;
        return false;
    }
    uint32_t contentLength = 0;
    if (!QueryContentLength(request.Get(), contentLength)) {
        error = DLERR_HTTP;
        return false;
    }

    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        error = DLERR_CREATE_FILE;
        return false;
    }

    std::vector<unsigned char> chunk(kChunkBytes);
    uint32_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.Get(), chunk.data(), kChunkBytes, &got)) {
            error = DLERR_HTTP;
            return false; // the owners close the file, the request and the session
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file.Get(), chunk.data(), got, &written, nullptr) || written < got) {
            error = WriteFailureError(path, got);
            return false;
        }
        total += written;
        if (progress && !progress->OnProgress(total, contentLength)) {
            error = DLERR_CANCELLED;
            return false;
        }
    }
    FlushFileBuffers(file.Get());
    file.Close();
    request.Close();
    session.Close();
    return total == contentLength;
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
