// CWnd: holder of one HWND. A CWnd either
//  - creates its window (CreateEx) and destroys it with the object,
//  - subclasses an existing window (SubclassWindow, SubclassDlgItem, the dialog
//    itself): the window procedure is replaced by ours, which dispatches through
//    the object's message map and then to the window's previous procedure, or
//  - merely names a window (CWnd(HWND), GetDlgItem): no subclassing, nothing
//    owned.
// The object of a subclassed window is found from the handle through a window
// property, so no handle table is kept and any thread may look it up.
//
// Threads: the window's own (GUI) thread dispatches its messages. Any thread
// may call the wrappers below: each is one Win32 call, which for a window of
// another thread is a synchronous message handled on the window's thread while
// the caller waits (the layer itself takes no lock and never waits for the
// caller). Create, subclass and destroy only on the window's thread.
#pragma once
#include <string>

#include "framework/cmd_target.h"

class CWnd : public CCmdTarget
{
    DECLARE_DYNAMIC(CWnd)

public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {} // names a window, owns nothing
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object that subclassed hWnd, or null. Any thread; sends nothing.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // GUI thread. Subclass: PreSubclassWindow runs first, with m_hWnd set.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();
    BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                  const RECT& rect, HWND hWndParent, UINT nID);
    BOOL DestroyWindow();

    // Dialog items (one Win32 call each; texts through WM_GETTEXT/WM_SETTEXT).
    CWnd GetDlgItem(int nID) const { return CWnd(::GetDlgItem(m_hWnd, nID)); }
    void SetDlgItemText(int nID, LPCWSTR lpszString) { ::SetDlgItemTextW(m_hWnd, nID, lpszString); }
    std::wstring GetDlgItemText(int nID) const { return GetDlgItem(nID).GetWindowText(); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }

    // Texts, state and placement.
    void SetWindowText(LPCWSTR lpszString) { ::SetWindowTextW(m_hWnd, lpszString); }
    std::wstring GetWindowText() const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE)
    {
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    void MoveWindow(const RECT& rect, BOOL bRepaint = TRUE)
    {
        MoveWindow(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, bRepaint);
    }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
    {
        return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
    }
    void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }
    void ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }

    // Messages. PostMessage returns at once; SendMessage waits for the window's
    // thread to handle the message.
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

    // Painting, timers and the device context.
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    void InvalidateRect(const RECT* lpRect, BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, lpRect, bErase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr)
    {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    HDC GetDC() { return ::GetDC(m_hWnd); }
    int ReleaseDC(HDC hDC) { return ::ReleaseDC(m_hWnd, hDC); }

    // Lays out the control bars (status bar) among the children whose ids lie
    // in [nIDFirst, nIDLast]: each is told to size itself to this window's
    // client area. nIDLeftOver names no control here (0).
    void RepositionBars(UINT nIDFirst, UINT nIDLast, UINT nIDLeftOver);

    // Hooks for derived classes, called on the window's thread.
    // Called by the modal loop for each message to this window or a child
    // window, innermost first; TRUE consumes the message.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

protected:
    // Runs before the window procedure is replaced.
    virtual void PreSubclassWindow() {}
    // Dispatch: the message map, then DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // A WM_COMMAND or WM_NOTIFY of this control, reflected from its parent.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The window's previous procedure (or the system's default).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The default processing of the message being handled now.
    LRESULT Default();

    // Default handlers of the standard messages (each runs Default()).
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSysCommand(UINT nID, LPARAM lParam);
    BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message);
    void OnMouseMove(UINT nFlags, POINT point);
    void OnMouseHover(UINT nFlags, POINT point);
    void OnMouseLeave();
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    void OnSize(UINT nType, int cx, int cy);

    DECLARE_MESSAGE_MAP()

private:
    static LRESULT CALLBACK StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

    WNDPROC m_pfnSuper = nullptr;   // previous window procedure while subclassed
    bool m_bCreated = false;        // CreateEx made the window: destroy it with the object
    const MSG* m_pCurrentMsg = nullptr; // the message being dispatched, for Default()
};
