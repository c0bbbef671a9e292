// One HTTP file download over WinINet (the .torrent fetch). Everything runs
// on the calling thread and blocks it until the transfer ends; the sink is
// called on that thread. Sends no window messages itself.
#pragma once
#include <cstdint>
#include <string>

#include "download_error.h"
#include "progress_sink.h"

struct DownloadJob
{
    int32_t result = 0;                  // 1 after success, 0 after failure (not a DownloadError)
    std::wstring path;                   // full path of the target file
    std::wstring url;
    IStatusCallback* progress = nullptr; // not owned; may be null
};

// Creates the target's folders, clears its read-only bit, downloads; the
// result (1 or 0) is returned and stored in the job.
int32_t RunDownloadJob(DownloadJob& job, DownloadError& error);

// Creates every missing folder along the path. A path of 260 characters or
// more is refused (nothing is created; the file creation then fails).
void MakeDirectoryPath(const std::wstring& folder);

// True when the bytes written equal the Content-Length; error is always
// written. A partial file stays on disk after a failure during the body.
bool HttpDownloadToFile(const std::wstring& url, IStatusCallback* progress, DownloadError& error,
                        const std::wstring& path);

// True when the drive at root is fixed and has more bytes free for the
// caller than bytes (equal is not enough).
bool HasEnoughFreeSpace(const std::wstring& root, uint32_t bytes);

// DLERR_WRITE_FILE or DLERR_DISK_FULL for a write of chunkSize bytes to
// path that failed.
DownloadError WriteFailureError(const std::wstring& path, uint32_t chunkSize);
