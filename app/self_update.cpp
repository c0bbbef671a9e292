#include "self_update.h"

#include <wininet.h>

#include <string>
#include <vector>

#include "engine/http_date.hpp"
#include "file_stamps.h"
#include "program_image.h"
#include "resource.h"
#include "support_routines.h"
#include "update_host.h"
#include "internet_request.h"
#include "update_request.h"
#include "win_handles.h"

const wchar_t kUpdateFolder[] = L"updatetollgrove\\";
const wchar_t kReplacerFileName[] = L"engine.dat";

namespace {

// The time is asked with no flags; the size and the file always come from
// the server, never from a cache.
const DWORD kTimeRequestFlags = 0;
const DWORD kFreshRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kFreshRequestFlags == 0x84400100, "the size and file requests' flags");
const DWORD kDownloadChunk = 65536;
// The head of an image read for its headers: they lie in its first page,
// in the file as in memory.
const DWORD kImageHeadSize = 4096;

void Store(int32_t* slot, DWORD value)
{
    if (slot)
        *slot = static_cast<int32_t>(value);
}

void StoreLastError(int32_t* slot)
{
    Store(slot, GetLastError());
}

bool IsEmpty(const wchar_t* text)
{
    return !text || !*text;
}

// One request of the update URL with the explicit Host header, within the
// update's limits: a server that never answers, or trickles, fails like one
// that cannot be reached (ERROR_INTERNET_TIMEOUT). The last error of a
// failed open is stored.
class UpdateRequest
{
public:
    UpdateRequest(DWORD flags, int32_t* error, const RequestClock* clock)
        : m_request(UpdateRequestLimits(), nullptr, clock)
    {
        const std::wstring host = UpdateHost();
        m_open = m_request.Open(UpdateUrl(host), UpdateRequestHeader(host), flags);
        if (!m_open)
            StoreLastError(error);
    }

    bool IsOpen() const { return m_open; }
    InternetRequest& Request() { return m_request; }

    // The status must be 200 or 206 (else it is stored), then the
    // Content-Length: a missing one stores the query's error, one that is
    // not a count stores 0.
    bool QueryAcceptedLength(uint32_t& contentLength, int32_t* error)
    {
        return QueryAcceptedStatus(error) && Stored(QueryContentLength(m_request, contentLength), error);
    }

    // The same for a body about to be read; a length above the size cap
    // stores ERROR_FILE_TOO_LARGE.
    bool QueryAcceptedBodyLength(uint32_t& contentLength, int32_t* error)
    {
        return QueryAcceptedStatus(error) && Stored(QueryBodyLength(m_request, contentLength), error);
    }

private:
    bool QueryAcceptedStatus(int32_t* error)
    {
        DWORD status = 0;
        if (!m_request.QueryStatus(status)) {
            StoreLastError(error);
            return false;
        }
        if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
            Store(error, status);
            return false;
        }
        return true;
    }

    // A failed query's last error is stored.
    static bool Stored(bool ok, int32_t* error)
    {
        if (!ok)
            StoreLastError(error);
        return ok;
    }

    InternetRequest m_request;
    bool m_open = false;
};

// The kind of the running program's own image, from its loaded headers
// (the first page of the module is always mapped).
bool RunningImageKind(ProgramImageKind& kind)
{
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    return base && ReadProgramImageKind(base, kImageHeadSize, kind);
}

// The kind of the image file at `path`, from its first bytes.
bool FileImageKind(const std::wstring& path, ProgramImageKind& kind)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    std::vector<unsigned char> head(kImageHeadSize);
    DWORD got = 0;
    if (!ReadFile(file.Get(), head.data(), kImageHeadSize, &got, nullptr))
        return false;
    return ReadProgramImageKind(head.data(), got, kind);
}

} // namespace

RequestLimits UpdateRequestLimits()
{
    RequestLimits limits;
    limits.sizeCap = kMaxUpdateBytes;
    return limits;
}

SelfUpdateResult SelfUpdate(const wchar_t* exeName, int32_t* step, int32_t* error, const RequestClock* clock)
{
    if (IsEmpty(exeName))
        return UPDATE_FAILED;
    std::wstring remoteStamp;
    switch (CheckForUpdate(exeName, remoteStamp, step, error, clock)) {
    case UPDATE_CHECK_CURRENT:
        return UPDATE_NOT_NEEDED;
    case UPDATE_CHECK_AVAILABLE:
        break;
    default:
        return UPDATE_FAILED;
    }

    const std::wstring folder = WithTrailingBackslash(kUpdateFolder);
    const std::wstring target = folder + exeName;
    if (!DownloadUpdateFile(target.c_str(), error, clock)) {
        *step = UPDATE_STEP_DOWNLOAD;
        return UPDATE_FAILED;
    }
    // A copy for another machine or subsystem (a wrong upload: a 64-bit or
    // console build, a DLL) would crash or misbehave at every start and
    // never update again: it must be the kind of image that runs now. For
    // the shipped i686 program that is exactly PE32 for Intel 80386 with the
    // GUI subsystem; the x86-64 test build compares PE32+ for AMD64.
    ProgramImageKind running, copy;
    if (!RunningImageKind(running) || !FileImageKind(target, copy) || !(copy == running)) {
        WriteUpdateLog(L"Tollgrove selfupdate: the new copy is not a program image for this machine and "
                       L"subsystem, not replaced");
        *step = UPDATE_STEP_DOWNLOAD;
        Store(error, ERROR_BAD_EXE_FORMAT);
        return UPDATE_FAILED;
    }
    // The stamp makes the next start find the server's time. A copy that
    // does not keep it (the file held by a scanner, a file system that
    // cannot store that time) would be downloaded and put in place again on
    // every start, and the window would never open: not put in place.
    const bool stamped = SetFileTimeFromStamp(remoteStamp, target) != 0;
    const DWORD stampError = stamped ? 0 : GetLastError();
    std::wstring keptStamp;
    uint64_t keptSize = 0;
    if (!GetLocalFileStamp(target.c_str(), keptStamp, keptSize) || !SameUpdateTime(keptStamp, remoteStamp)) {
        WriteUpdateLog(L"Tollgrove selfupdate: the new copy did not keep the server's time, not replaced");
        *step = UPDATE_STEP_DOWNLOAD;
        Store(error, stampError);
        return UPDATE_FAILED;
    }

    const std::wstring replacer = folder + kReplacerFileName;
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_REPLACER), L"DATA");
    if (!resource || !WriteResourceToFile(resource, replacer)) {
        *step = UPDATE_STEP_WRITE_REPLACER;
        StoreLastError(error);
        return UPDATE_FAILED;
    }

    if (!StartHiddenProcess(replacer.c_str(), ReplacerArguments(folder, exeName).c_str())) {
        *step = UPDATE_STEP_START_REPLACER;
        StoreLastError(error);
        return UPDATE_FAILED;
    }
    return UPDATE_STARTED;
}

int CheckForUpdate(const wchar_t* exeName, std::wstring& remoteStamp, int32_t* step, int32_t* error,
                   const RequestClock* clock)
{
    *step = UPDATE_STEP_NONE;
    remoteStamp.clear();
    Store(error, 0);
    if (IsEmpty(exeName))
        return UPDATE_CHECK_ERROR;

    std::wstring localStamp;
    uint64_t localSize = 0;
    if (!GetLocalFileStamp(exeName, localStamp, localSize)) {
        *step = UPDATE_STEP_LOCAL_STAMP;
        StoreLastError(error);
        return UPDATE_CHECK_ERROR;
    }
    SYSTEMTIME lastModified;
    if (!QueryRemoteLastModified(&lastModified, error, clock)) {
        *step = UPDATE_STEP_REMOTE_STAMP;
        return UPDATE_CHECK_ERROR;
    }
    remoteStamp = FormatFileTimeStamp(lastModified);
    if (remoteStamp.empty()) {
        *step = UPDATE_STEP_STAMP_FORMAT;
        return UPDATE_CHECK_ERROR;
    }
    if (!SameUpdateTime(localStamp, remoteStamp))
        return UPDATE_CHECK_AVAILABLE; // the size is not asked
    const uint64_t remoteSize = QueryRemoteContentLength(error, clock);
    if (remoteSize == 0) {
        *step = UPDATE_STEP_REMOTE_SIZE;
        return UPDATE_CHECK_ERROR;
    }
    return remoteSize == localSize ? UPDATE_CHECK_CURRENT : UPDATE_CHECK_AVAILABLE;
}

bool GetLocalFileStamp(const wchar_t* fileName, std::wstring& stamp, uint64_t& size)
{
    stamp.clear();
    size = 0;
    if (IsEmpty(fileName))
        return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(fileName, GetFileExInfoStandard, &data))
        return false;
    stamp = FormatFileStamp((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime);
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool QueryRemoteLastModified(SYSTEMTIME* lastModified, int32_t* error, const RequestClock* clock)
{
    Store(error, 0);
    ZeroMemory(lastModified, sizeof(*lastModified));
    UpdateRequest request(kTimeRequestFlags, error, clock);
    if (!request.IsOpen())
        return false;
    // Read as text and parsed here: WinINet's own conversion
    // (HTTP_QUERY_FLAG_SYSTEMTIME) dies under 32-bit Wine on a date its
    // 32-bit time cannot hold (2500-01-01 was seen), before any window.
    std::wstring text;
    if (!request.Request().QueryText(HTTP_QUERY_LAST_MODIFIED, text, 2 * tg::max_http_date_size - 1)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            StoreLastError(error);
            return false;
        }
        return true; // there, but too long to be a date: the zeroed time converts to nothing
    }
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '\x7f'; // no date has other letters
    tg::http_date date;
    if (tg::parse_http_date(narrow, date)) {
        lastModified->wYear = static_cast<WORD>(date.year);
        lastModified->wMonth = static_cast<WORD>(date.month);
        lastModified->wDayOfWeek = static_cast<WORD>(date.weekday);
        lastModified->wDay = static_cast<WORD>(date.day);
        lastModified->wHour = static_cast<WORD>(date.hour);
        lastModified->wMinute = static_cast<WORD>(date.minute);
        lastModified->wSecond = static_cast<WORD>(date.second);
    }
    // A text that is no date leaves the time zeroed, which no conversion
    // takes: the caller's step 8.
    return true;
}

std::wstring FormatFileTimeStamp(const SYSTEMTIME& time)
{
    FILETIME fileTime;
    if (!SystemTimeToFileTime(&time, &fileTime))
        return std::wstring();
    return FormatFileStamp((static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime);
}

uint64_t QueryRemoteContentLength(int32_t* error, const RequestClock* clock)
{
    Store(error, 0);
    UpdateRequest request(kFreshRequestFlags, error, clock);
    uint32_t contentLength = 0;
    if (!request.IsOpen() || !request.QueryAcceptedLength(contentLength, error))
        return 0;
    return contentLength;
}

bool DownloadUpdateFile(const wchar_t* targetPath, int32_t* error, const RequestClock* clock)
{
    Store(error, 0);
    UpdateRequest request(kFreshRequestFlags, error, clock);
    uint32_t contentLength = 0;
    if (!request.IsOpen() || !request.QueryAcceptedBodyLength(contentLength, error))
        return false;

    FileHandle file(CreateFileW(targetPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        StoreLastError(error);
        return false;
    }
    std::vector<unsigned char> buffer(kDownloadChunk);
    unsigned char head[2] = {};
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!request.Request().Read(buffer.data(), kDownloadChunk, got)) {
            StoreLastError(error);
            return false;
        }
        if (got == 0)
            break;
        if (got > contentLength - total)
            return false; // runs past its Content-Length: not the copy announced (error 0)
        DWORD written = 0;
        if (!WriteFile(file.Get(), buffer.data(), got, &written, nullptr) || written != got) {
            StoreLastError(error);
            return false;
        }
        for (DWORD i = 0; i < got && total + i < sizeof(head); ++i)
            head[total + i] = buffer[i];
        total += got;
    }
    FlushFileBuffers(file.Get());
    // A body that is not a program (an empty answer, an error page sent
    // with status 200) would leave no working program behind the replacer.
    return total == contentLength && LooksLikeProgramImage(head, total < sizeof(head) ? total : sizeof(head));
}

bool StartHiddenProcess(const wchar_t* programPath, const wchar_t* arguments)
{
    if (!programPath || !arguments)
        return false;
    std::wstring text = std::wstring(programPath) + arguments;
    std::vector<wchar_t> commandLine(text.begin(), text.end()); // CreateProcessW writes into it
    commandLine.push_back(L'\0');
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ProcessHandles process; // the replacer runs on alone: its handles are not kept
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, process.Receive()) != FALSE;
}
