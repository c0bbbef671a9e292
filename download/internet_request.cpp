#include "internet_request.h"

#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "request_limits.h"
#include "support_formats.h"
#include "win_handles.h"

namespace {

enum Call { CALL_NONE, CALL_SEND, CALL_AVAILABLE, CALL_READ, CALL_QUIT };

// How often a waiting caller looks at the cancel flag and the limits.
constexpr DWORD kPollMs = 100;
// The handles' own time-outs run this much past the limits: the limits
// decide (and name the failure), and a helper left blocked on a silent
// server still ends.
constexpr DWORD kHandleGraceMs = 2000;

DWORD HandleTimeoutMs(std::chrono::milliseconds limit)
{
    return static_cast<DWORD>(limit.count()) + kHandleGraceMs;
}

// Set on each handle: the session's and the connection's reach the request
// on Windows; under Wine only the request handle's are used (the others
// read back 0, which waits for ever). The connect has the head's time-out;
// a single send or receive, the longer of the head's and the stall time
// when a body will be read.
void SetTimeouts(HINTERNET handle, const RequestLimits& limits)
{
    DWORD connect = HandleTimeoutMs(limits.headTimeout);
    DWORD transfer =
        HandleTimeoutMs(limits.sizeCap > 0 ? std::max(limits.headTimeout, limits.stallTime) : limits.headTimeout);
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        InternetSetOptionW(handle, option, &transfer, sizeof transfer);
}

} // namespace

// What the caller and the helper share. The helper keeps it alive after a
// caller gave up; the last owner closes the handles.
struct InternetRequest::Shared
{
    std::mutex lock;
    std::condition_variable changed;
    int call = CALL_NONE; // set by the caller, cleared by the helper when done
    bool abandoned = false;
    BOOL result = FALSE;
    DWORD error = 0;
    DWORD size = 0;
    DWORD got = 0;
    std::vector<unsigned char> buffer; // the helper reads here, never into the caller's memory
    std::wstring headers;

    // Declared in the order opened, so closed in reverse: the request
    // (closed in the destructor's body), the connection, the session.
    InternetHandle session;
    InternetHandle connection;
    std::atomic<HINTERNET> request{nullptr}; // taken by whoever closes it

    ~Shared() { CloseRequest(); }

    void CloseRequest() { const InternetHandle taken(request.exchange(nullptr)); }

    static DWORD WINAPI Start(LPVOID param)
    {
        std::unique_ptr<std::shared_ptr<Shared>> reference(static_cast<std::shared_ptr<Shared>*>(param));
        Serve(*reference);
        return 0;
    }

    static void Serve(const std::shared_ptr<Shared>& self)
    {
        for (;;) {
            int call;
            {
                std::unique_lock<std::mutex> hold(self->lock);
                self->changed.wait(hold, [&] { return self->call != CALL_NONE; });
                call = self->call;
            }
            if (call == CALL_QUIT)
                return;
            HINTERNET request = self->request.load();
            BOOL result = FALSE;
            DWORD got = 0;
            switch (call) {
            case CALL_SEND:
                result = HttpSendRequestW(request, self->headers.empty() ? nullptr : self->headers.c_str(),
                                          static_cast<DWORD>(self->headers.size()), nullptr, 0);
                break;
            case CALL_AVAILABLE:
                result = InternetQueryDataAvailable(request, &got, 0, 0);
                break;
            default:
                result = InternetReadFile(request, self->buffer.data(), self->size, &got);
                break;
            }
            const DWORD error = GetLastError();
            std::lock_guard<std::mutex> hold(self->lock);
            self->result = result;
            self->error = error;
            self->got = got;
            self->call = CALL_NONE;
            self->changed.notify_all();
            if (self->abandoned)
                return;
        }
    }
};

InternetRequest::InternetRequest(const RequestLimits& limits, const std::atomic<BOOL>* cancel,
                                 const RequestClock* clock)
    : m_limits(limits), m_cancel(cancel), m_clock(clock ? *clock : m_realClock), m_watch(limits, m_clock.Now())
{
}

InternetRequest::~InternetRequest()
{
    if (!m_shared)
        return;
    // An abandoned helper ends after its call; an idle one is told to.
    bool abandoned;
    {
        std::lock_guard<std::mutex> hold(m_shared->lock);
        abandoned = m_shared->abandoned;
        if (!abandoned) {
            m_shared->call = CALL_QUIT;
            m_shared->changed.notify_all();
        }
    }
    if (!abandoned)
        WaitForSingleObject(m_helper->Get(), INFINITE); // idle: it ends at once, and the handles close here
}

bool InternetRequest::Open(const std::wstring& url, const std::wstring& headers, DWORD flags)
{
    if (m_failed || m_shared) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    parts.dwUserNameLength = parts.dwPasswordLength = 1;
    if (url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return GiveUp(url.empty() ? ERROR_INTERNET_INVALID_URL : GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return GiveUp(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    const std::wstring host(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
    if (host.empty())
        return GiveUp(ERROR_INTERNET_INVALID_URL);
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty())
        object = L"/";
    const std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
    const std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;

    auto shared = std::make_shared<Shared>();
    shared->headers = headers;
    shared->session = InternetHandle(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!shared->session.IsValid()) {
        m_sessionFailed = true;
        return GiveUp(GetLastError());
    }
    SetTimeouts(shared->session.Get(), m_limits);
    shared->connection = InternetHandle(
        InternetConnectW(shared->session.Get(), host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
                         password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
    if (!shared->connection.IsValid())
        return GiveUp(GetLastError());
    SetTimeouts(shared->connection.Get(), m_limits);
    HINTERNET request =
        HttpOpenRequestW(shared->connection.Get(), nullptr, object.c_str(), nullptr, nullptr, nullptr, flags, 0);
    if (!request)
        return GiveUp(GetLastError());
    shared->request = request;
    SetTimeouts(request, m_limits);

    m_shared = shared;
    // The thread's own reference; it takes it over when it starts.
    auto reference = std::make_unique<std::shared_ptr<Shared>>(shared);
    HANDLE helper = CreateThread(nullptr, 0, &Shared::Start, reference.get(), 0, nullptr);
    if (!helper) {
        m_shared.reset();
        return GiveUp(GetLastError());
    }
    reference.release();
    m_helper = std::make_unique<FileHandle>(helper);
    if (!Run(CALL_SEND, 0, nullptr))
        return false;
    m_watch.HeadArrived(m_clock.Now());
    return true;
}

bool InternetRequest::QueryStatus(DWORD& status) const
{
    status = 0;
    DWORD size = sizeof status;
    if (m_failed || !m_shared) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return HttpQueryInfoW(m_shared->request.load(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          nullptr) != FALSE;
}

bool InternetRequest::QueryText(DWORD info, std::wstring& text, size_t maxChars) const
{
    text.clear();
    if (m_failed || !m_shared) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    DWORD size = static_cast<DWORD>(maxChars * sizeof(wchar_t)); // bytes, room kept for the terminator
    DWORD index = 0;
    if (!HttpQueryInfoW(m_shared->request.load(), info, buffer.data(), &size, &index))
        return false;
    // The returned size is not trusted for its unit: the zero-filled
    // buffer ends the text.
    text = TextUpToTerminator(buffer.data(), maxChars);
    return true;
}

bool InternetRequest::Read(void* buffer, DWORD size, DWORD& got)
{
    got = 0;
    if (size == 0)
        return true;
    // Asking what has arrived first: a synchronous read waits until its
    // whole buffer is filled, which a trickling server can put off for ever.
    DWORD available = 0;
    if (!Run(CALL_AVAILABLE, 0, &available))
        return false;
    if (available == 0)
        return true; // the body has ended
    DWORD read = 0;
    if (!Run(CALL_READ, available < size ? available : size, &read))
        return false;
    if (!m_watch.BodyArrived(read, m_clock.Now())) {
        // More than the caller can take: ended before the bytes reach it.
        Abandon();
        return GiveUp(ERROR_FILE_TOO_LARGE);
    }
    std::memcpy(buffer, m_shared->buffer.data(), read);
    got = read;
    return true;
}

bool InternetRequest::Run(int call, DWORD size, DWORD* got)
{
    if (m_failed || !m_shared) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // Looked at before each call too: a body that comes in small steps
    // completes every call within a poll, and may still be stopped or too
    // slow.
    if (const DWORD reason = EndReason()) {
        Abandon();
        return GiveUp(reason);
    }
    Shared& shared = *m_shared;
    std::unique_lock<std::mutex> hold(shared.lock);
    if (call == CALL_READ && shared.buffer.size() < size)
        shared.buffer.resize(size);
    shared.size = size;
    shared.call = call;
    shared.changed.notify_all();
    for (;;) {
        if (shared.changed.wait_for(hold, std::chrono::milliseconds(kPollMs),
                                    [&] { return shared.call == CALL_NONE; })) {
            if (got)
                *got = shared.got;
            if (!shared.result)
                m_failed = true; // a failed call ends the request
            SetLastError(shared.error);
            return shared.result != FALSE;
        }
        if (const DWORD reason = EndReason()) {
            hold.unlock();
            Abandon();
            return GiveUp(reason);
        }
    }
}

DWORD InternetRequest::EndReason() const
{
    if (m_cancel && m_cancel->load())
        return ERROR_CANCELLED;
    if (m_watch.Expired(m_clock.Now()))
        return ERROR_INTERNET_TIMEOUT;
    return 0;
}

void InternetRequest::Abandon()
{
    {
        std::lock_guard<std::mutex> hold(m_shared->lock);
        if (m_shared->call == CALL_NONE) {
            // Idle: told to end, like the destructor would.
            m_shared->call = CALL_QUIT;
            m_shared->changed.notify_all();
        }
        m_shared->abandoned = true;
    }
    // The helper ends once its call returns; closing the handle makes that
    // at once where the system allows it (Windows).
    m_shared->CloseRequest();
}

bool InternetRequest::GiveUp(DWORD error)
{
    m_failed = true;
    SetLastError(error);
    return false;
}

bool QueryBodyLength(const InternetRequest& request, uint32_t& length)
{
    if (!QueryContentLength(request, length))
        return false;
    if (length > request.Limits().sizeCap) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    return true;
}

bool QueryContentLength(const InternetRequest& request, uint32_t& length)
{
    length = 0;
    std::wstring text;
    if (!request.QueryText(HTTP_QUERY_CONTENT_LENGTH, text, 63))
        return false; // missing, or too long to be a 32-bit count
    if (!ParseContentLength(text, length)) {
        SetLastError(0);
        return false;
    }
    return true;
}
