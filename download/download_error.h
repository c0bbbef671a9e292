// Error codes of one HTTP file download and the attempt's results that
// pick the report forms. Portable: no windows.h.
#pragma once
#include <cstdint>

// Written by HttpDownloadToFile on every path.
enum DownloadError : int32_t
{
    DLERR_OK = 0,             // no error; also a completed transfer whose count differs from the Content-Length
    DLERR_CREATE_FILE = 1,    // the target file could not be created
    DLERR_WRITE_FILE = 2,     // a write failed while the drive still has room for the chunk
    DLERR_INTERNET_OPEN = 4,  // no Internet session
    DLERR_DISK_FULL = 9,      // a write failed and the drive has no room for the chunk, or is not fixed
    DLERR_CANCELLED = 10,     // the progress sink answered false
    DLERR_HTTP = 21,          // open, status, Content-Length or read failed
};

// What a download attempt ends with; chooses the outcome report's form.
enum WorkerResult : int32_t
{
    WR_COMPLETED = 3,
    WR_FAILED = 4,
    WR_STOPPED = 7,
    WR_EXCEPTION = 8,
    WR_TORRENT_FETCH_FAILED = 16,
};
