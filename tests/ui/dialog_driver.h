// Drives this process's modal dialogs from a thread of the test: finds a
// dialog by caption, types into it and presses its buttons, while the
// thread under test sits in the dialog's modal loop. Every wait is bounded;
// when the script ends, whatever dialog of the captions given is still open
// is cancelled, so a failed step never leaves a modal loop running.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace dialog_driver {

constexpr DWORD kWaitMs = 15000;

struct FindArgs
{
    const wchar_t* caption;
    HWND owner; // null: any owner
    HWND found;
};

inline BOOL CALLBACK FindProc(HWND hwnd, LPARAM lParam)
{
    FindArgs* a = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid != ::GetCurrentProcessId() || !::IsWindowVisible(hwnd))
        return TRUE;
    wchar_t cls[32] = {}, text[256] = {};
    ::GetClassNameW(hwnd, cls, 32);
    ::GetWindowTextW(hwnd, text, 256);
    if (std::wstring(cls) != L"#32770")
        return TRUE;
    if (a->caption && std::wstring(text) != a->caption)
        return TRUE;
    if (a->owner && ::GetWindow(hwnd, GW_OWNER) != a->owner)
        return TRUE;
    a->found = hwnd;
    return FALSE;
}

// A visible dialog of this process with the caption (any caption when
// null) and, when given, the owner; null after the wait.
inline HWND WaitForDialog(const wchar_t* caption, HWND owner = nullptr, DWORD ms = kWaitMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        FindArgs a = {caption, owner, nullptr};
        ::EnumWindows(FindProc, reinterpret_cast<LPARAM>(&a));
        if (a.found)
            return a.found;
        if (::GetTickCount() - start > ms)
            return nullptr;
        ::Sleep(30);
    }
}

inline bool WaitGone(HWND hwnd, DWORD ms = kWaitMs)
{
    const DWORD start = ::GetTickCount();
    while (::IsWindow(hwnd) && ::IsWindowVisible(hwnd)) {
        if (::GetTickCount() - start > ms)
            return false;
        ::Sleep(30);
    }
    return true;
}

inline std::wstring Text(HWND hwnd)
{
    wchar_t buf[1024] = {};
    ::SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

inline void SetItemText(HWND dlg, int id, const std::wstring& text)
{
    ::SendMessageW(::GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// As a click would: the button's notification to its dialog (posted).
inline void Press(HWND dlg, int id)
{
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, id)));
}

// A message box's text (its static control).
inline std::wstring MessageBoxText(HWND box)
{
    std::wstring found;
    for (HWND h = ::GetWindow(box, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        ::GetClassNameW(h, cls, 32);
        const std::wstring t = Text(h);
        if (std::wstring(cls) == L"Static" && !t.empty())
            found = t;
    }
    return found;
}

// Runs `script` on a thread of its own; the destructor cancels what is left
// open of the named dialogs and joins.
class Driver
{
public:
    Driver(std::vector<std::wstring> captions, std::function<void()> script) : m_captions(std::move(captions))
    {
        m_thread = std::thread([this, script] {
            script();
            CancelLeftovers();
        });
    }
    ~Driver()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

private:
    void CancelLeftovers()
    {
        for (int round = 0; round < 20; ++round) {
            bool any = false;
            for (const std::wstring& c : m_captions) {
                if (HWND h = WaitForDialog(c.c_str(), nullptr, 0)) {
                    ::PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); // message boxes too
                    any = true;
                }
            }
            if (!any)
                return;
            ::Sleep(100);
        }
    }

    std::vector<std::wstring> m_captions;
    std::thread m_thread;
};

} // namespace dialog_driver
