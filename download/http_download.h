// One HTTP file download over WinINet (the .torrent fetch). It blocks the
// calling thread until the transfer ends: for as long as the server keeps
// sending, however slowly (a large game's .torrent of a few MB takes
// minutes on a slow line), but not past the limits below, and within a
// tenth of a second of a stop. The sink is called on that thread. Sends no
// window messages itself.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "request_limits.h"

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

// The .torrent fetch's limits: the head within 30 s, then a body that keeps
// moving (no 30 s without a byte, at least 60 KiB in any 60 s), no larger
// than the engine's file cap (15,728,640 bytes), as it loads no bigger one.
RequestLimits TorrentFetchLimits();

// True when the bytes written equal the Content-Length; error is always
// written. A Content-Length above the limits' size cap, or a body longer
// than its Content-Length, is DLERR_HTTP; so is a server that runs out of a
// time limit. A raised cancel flag is DLERR_CANCELLED. The body is written
// beside the target (".part") and renamed over it when whole: after a
// failure the target is as it was, and nothing else stays. clock (null for
// the real one) is what the limits run on.
bool HttpDownloadToFile(const std::wstring& url, IStatusCallback* progress, DownloadError& error,
                        const std::wstring& path, const std::atomic<BOOL>* cancel = nullptr,
                        const RequestLimits& limits = TorrentFetchLimits(), const RequestClock* clock = nullptr);

// True when the drive at root is fixed and has more bytes free for the
// caller than bytes (equal is not enough).
bool HasEnoughFreeSpace(const std::wstring& root, uint32_t bytes);

// DLERR_WRITE_FILE or DLERR_DISK_FULL for a write of chunkSize bytes to
// path that failed.
DownloadError WriteFailureError(const std::wstring& path, uint32_t chunkSize);
