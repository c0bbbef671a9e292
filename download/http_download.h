// One HTTP file download over WinINet (the .torrent fetch). It blocks the
// calling thread until the transfer ends, at most its deadline (30 s), or
// within a tenth of a second of a stop; the sink is called on that thread.
// Sends no window messages itself.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "internet_request.h"

#include "download_error.h"
#include "progress_sink.h"

struct DownloadJob
{
    int32_t result = 0;                  // 1 after success, 0 after failure (not a DownloadError)
    std::wstring path;                   // full path of the target file
    std::wstring url;
    IStatusCallback* progress = nullptr; // not owned; may be null
    const std::atomic<BOOL>* cancel = nullptr; // a stop flag the fetch watches; not owned, may be null
};

// Creates the target's folders, clears its read-only bit, downloads; the
// result (1 or 0) is returned and stored in the job.
int32_t RunDownloadJob(DownloadJob& job, DownloadError& error);

// Creates every missing folder along the path. A path of 260 characters or
// more is refused (nothing is created; the file creation then fails).
void MakeDirectoryPath(const std::wstring& folder);

// True when the bytes written equal the Content-Length; error is always
// written. A Content-Length above the engine's 15 MiB file cap, or a body
// longer than its Content-Length, is DLERR_HTTP; so is a request that
// outlives its deadline. A raised cancel flag is DLERR_CANCELLED. The body
// is written beside the target (".part") and renamed over it when whole:
// after a failure the target is as it was, and nothing else stays.
bool HttpDownloadToFile(const std::wstring& url, IStatusCallback* progress, DownloadError& error,
                        const std::wstring& path, const std::atomic<BOOL>* cancel = nullptr,
                        DWORD deadlineMs = kTorrentFetchDeadlineMs);

// True when the drive at root is fixed and has more bytes free for the
// caller than bytes (equal is not enough).
bool HasEnoughFreeSpace(const std::wstring& root, uint32_t bytes);

// DLERR_WRITE_FILE or DLERR_DISK_FULL for a write of chunkSize bytes to
// path that failed.
DownloadError WriteFailureError(const std::wstring& path, uint32_t chunkSize);
