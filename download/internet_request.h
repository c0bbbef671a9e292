// One HTTP GET over WinINet that ends: the caller states its limits
// (request_limits.h): a time-out for the connect and the answer's head,
// then a body that must keep moving and stay under a size cap. A silent or
// trickling server is given up; a slow one that keeps sending is not. An
// optional cancel flag ends it within a tenth of a second.
//
// The blocking WinINet calls run on a helper thread of the request while
// the calling thread waits for them, the limits and the flag. Closing a
// handle from another thread ends a blocked call on Windows but not under
// Wine 8 (seen with a silent listener on 127.0.0.1), and a synchronous
// InternetReadFile waits for its whole buffer: so a request that runs out
// is given up by the caller at once, and the helper, which owns the
// handles, ends by itself when its call returns (within the handles' own
// time-outs, set a little past the limits, which Wine does honour when set
// on the request handle: InternetOpenUrlW gives no handle to set them on
// before it blocks, so the request is made in its three steps).
//
// Any thread; every call but the queries blocks, never longer than a limit
// allows. Sends no window messages. A failure leaves the thread's last
// error: WinINet's, ERROR_INTERNET_TIMEOUT when a time limit ran out,
// ERROR_FILE_TOO_LARGE when the body passed its size cap, or
// ERROR_CANCELLED when the flag was raised.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "request_limits.h"
#include "win_handles.h"

class InternetRequest
{
public:
    // cancel may be null; it is read, never written. clock may be null for
    // the real one; given, it outlives the request.
    explicit InternetRequest(const RequestLimits& limits, const std::atomic<BOOL>* cancel = nullptr,
                             const RequestClock* clock = nullptr);
    ~InternetRequest();
    InternetRequest(const InternetRequest&) = delete;
    InternetRequest& operator=(const InternetRequest&) = delete;

    // Opens a session without agent or proxy, sends the GET with the extra
    // headers (may be empty) and the request flags, and waits for the
    // answer's head. Redirects are followed unless the flags say not to.
    bool Open(const std::wstring& url, const std::wstring& headers, DWORD flags);

    // True after Open failed for want of an Internet session.
    bool SessionFailed() const { return m_sessionFailed; }

    // The status code as WinINet read it from the status line.
    bool QueryStatus(DWORD& status) const;
    // The header as text (at most maxChars characters); false with the
    // query's error when missing, ERROR_INSUFFICIENT_BUFFER when longer.
    bool QueryText(DWORD info, std::wstring& text, size_t maxChars) const;

    // Up to size bytes of the body, at most what has arrived; got 0 at its end.
    bool Read(void* buffer, DWORD size, DWORD& got);

    const RequestLimits& Limits() const { return m_limits; }

private:
    struct Shared;
    // Runs call on the helper and waits for it; its result and last error.
    bool Run(int call, DWORD size, DWORD* got);
    // ERROR_CANCELLED or ERROR_INTERNET_TIMEOUT when the request must end now, else 0.
    DWORD EndReason() const;
    // Leaves the helper to end by itself; the request is then given up.
    void Abandon();
    bool GiveUp(DWORD error);

    RequestLimits m_limits;
    const std::atomic<BOOL>* m_cancel;
    RequestClock m_realClock;
    const RequestClock& m_clock;
    RequestWatch m_watch;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<FileHandle> m_helper; // the helper thread
    bool m_failed = false; // given up: every later call fails at once
    bool m_sessionFailed = false;
};

// The Content-Length of an opened request, parsed strictly (WinINet's own
// number conversion reads garbage as 0). False with the query's error when
// missing; false with error 0 when it is not a 32-bit decimal count.
bool QueryContentLength(const InternetRequest& request, uint32_t& length);

// The same, for a body about to be read: a length above the request's size
// cap is refused from the header, before anything is read or written
// (false with ERROR_FILE_TOO_LARGE; the length is stored).
bool QueryBodyLength(const InternetRequest& request, uint32_t& length);
