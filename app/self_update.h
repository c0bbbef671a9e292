// The self-update: compares the program's executable with the update
// server's copy and, when they differ, downloads the copy into the update
// folder and starts the replacer program, which puts it in place once this
// process has ended.
//
// Main thread only, at start-up before any window exists: every routine
// blocks on WinINet or the file system and none sends a window message.
// Each request keeps the limits of UpdateRequestLimits: a server that is
// silent, trickles or stops fails with ERROR_INTERNET_TIMEOUT at its step,
// while a slow one that keeps sending is waited for (the program is about
// 11 MB, 90 s at 1 Mbit/s). The request routines take the clock those
// limits run on: null for the real one.
// Relative paths resolve against the current directory, which start-up has
// made the executable's folder.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "request_limits.h"

// The update folder, relative to the current directory.
extern const wchar_t kUpdateFolder[];
// The replacer's file name inside the update folder.
extern const wchar_t kReplacerFileName[];

enum SelfUpdateResult {
    UPDATE_STARTED = 16,    // the replacer runs: end without a window
    UPDATE_FAILED = 17,     // the step slot says which step failed
    UPDATE_NOT_NEEDED = 18, // the executable is the server's copy
};

enum UpdateCheckResult {
    UPDATE_CHECK_CURRENT = 0,   // same minute (or within FAT's two seconds) and same size
    UPDATE_CHECK_AVAILABLE = 1, // modification time or size differs
    UPDATE_CHECK_ERROR = 2,
};

// Written into the step slot; 0 when no step failed (7 is not used).
enum UpdateStep {
    UPDATE_STEP_NONE = 0,
    UPDATE_STEP_LOCAL_STAMP = 1,     // local attributes unreadable: system error
    UPDATE_STEP_REMOTE_STAMP = 2,    // Last-Modified request failed: system error
    UPDATE_STEP_REMOTE_SIZE = 3,     // Content-Length request gave 0: system error, HTTP status or 0
    UPDATE_STEP_DOWNLOAD = 4,        // download failed, the copy is not an image of the running
                                     // program's kind, or it did not keep the server's time:
                                     // system error, HTTP status or 0
    UPDATE_STEP_WRITE_REPLACER = 5,  // replacer resource missing or not written whole: system error
    UPDATE_STEP_START_REPLACER = 6,  // replacer cannot run: system error
    UPDATE_STEP_STAMP_FORMAT = 8,    // Last-Modified not convertible to a file time: 0
};

// The largest copy of the program taken: well above its size, so that a
// publisher's next builds fit, and far below what would fill a player's
// disk from a wrong or hostile answer.
constexpr uint32_t kMaxUpdateBytes = 64u << 20;

// The limits of each request to the update server: the head within 30 s,
// then a body that keeps moving (no 30 s without a byte, at least 60 KiB
// in any 60 s) of at most kMaxUpdateBytes.
RequestLimits UpdateRequestLimits();

// The step slot is required; every error slot may be null (nothing stored).
// An error value is 0, a system error code (WinINet's included) or an HTTP
// status other than 200 and 206.
SelfUpdateResult SelfUpdate(const wchar_t* exeName, int32_t* step, int32_t* error, const RequestClock* clock = nullptr);

// 0, 1 or 2 (UpdateCheckResult); remoteStamp receives the server's stamp.
int CheckForUpdate(const wchar_t* exeName, std::wstring& remoteStamp, int32_t* step, int32_t* error,
                   const RequestClock* clock = nullptr);

// The file's last-write time as a stamp and its size; false (empty, 0)
// when its attributes cannot be read.
bool GetLocalFileStamp(const wchar_t* fileName, std::wstring& stamp, uint64_t& size);

// First request: the server's Last-Modified (any status that carries one),
// read as text and parsed by our own HTTP date parser. A header that is no
// HTTP date still returns true, with the time left zeroed, so that its
// conversion fails (step 8).
bool QueryRemoteLastModified(SYSTEMTIME* lastModified, int32_t* error, const RequestClock* clock = nullptr);

// "%lu:%lu" of the time as a file time; empty when it cannot be converted.
std::wstring FormatFileTimeStamp(const SYSTEMTIME& time);

// Second request: the Content-Length of a 200 or 206 answer; 0 on any failure.
uint64_t QueryRemoteContentLength(int32_t* error, const RequestClock* clock = nullptr);

// Third request: the body into the target file (replaced); true when the
// bytes written equal the Content-Length. A partial file stays behind. A
// Content-Length above kMaxUpdateBytes is refused before the file is
// created (ERROR_FILE_TOO_LARGE).
bool DownloadUpdateFile(const wchar_t* targetPath, int32_t* error, const RequestClock* clock = nullptr);

// Starts programPath + arguments (arguments begin with their own blank)
// without a console window and without waiting; true when it was created.
bool StartHiddenProcess(const wchar_t* programPath, const wchar_t* arguments);
