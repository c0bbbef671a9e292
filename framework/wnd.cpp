#include "framework/wnd.h"

#include <vector>

namespace {

// The window property that leads from a subclassed HWND to its CWnd.
const wchar_t kObjectProperty[] = L"Tollgrove.CWnd";

} // namespace

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd()
{
    if (!m_hWnd)
        return;
    if (m_bCreated && ::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId()) {
        ::DestroyWindow(m_hWnd); // WM_NCDESTROY detaches
    }
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this)
        UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kObjectProperty)) : nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE; // one object per window, one window per object
    m_hWnd = hWnd;
    PreSubclassWindow();
    if (!::SetPropW(hWnd, kObjectProperty, this)) {
        m_hWnd = nullptr;
        return FALSE;
    }
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::StdWndProc)));
    if (!m_pfnSuper) {
        ::RemovePropW(hWnd, kObjectProperty);
        m_hWnd = nullptr;
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    if (!pParent || !pParent->m_hWnd)
        return FALSE;
    return SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID)));
}

HWND CWnd::UnsubclassWindow()
{
    HWND hWnd = m_hWnd;
    Detach();
    return hWnd;
}

void CWnd::Detach()
{
    if (!m_hWnd)
        return;
    if (m_pfnSuper) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        m_pfnSuper = nullptr;
    }
    if (FromHandlePermanent(m_hWnd) == this)
        ::RemovePropW(m_hWnd, kObjectProperty);
    m_hWnd = nullptr;
    m_bCreated = false;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    HWND hWndParent, UINT nID)
{
    if (m_hWnd)
        return FALSE;
    HMENU idOrMenu = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
    HWND hWnd = ::CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, hWndParent, idOrMenu,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!hWnd)
        return FALSE;
    if (!SubclassWindow(hWnd)) {
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    m_bCreated = true;
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    if (FromHandlePermanent(m_hWnd) != this) { // a mere name: forget it, destroy it
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        return ::DestroyWindow(hWnd);
    }
    return ::DestroyWindow(m_hWnd); // WM_NCDESTROY detaches
}

std::wstring CWnd::GetWindowText() const
{
    // The length may change between the two calls (another thread sets the
    // text): grow until the copy fits.
    std::vector<wchar_t> buf(static_cast<size_t>(::GetWindowTextLengthW(m_hWnd)) + 2);
    for (;;) {
        int n = ::GetWindowTextW(m_hWnd, buf.data(), static_cast<int>(buf.size()));
        if (n < 0)
            n = 0;
        if (static_cast<size_t>(n) + 1 < buf.size())
            return std::wstring(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

void CWnd::RepositionBars(UINT nIDFirst, UINT nIDLast, UINT /*nIDLeftOver*/)
{
    // The common bar controls dock themselves to the parent's client area
    // when told WM_SIZE; nothing takes the space left over.
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        UINT id = static_cast<UINT>(::GetDlgCtrlID(child));
        if (id >= nIDFirst && id <= nIDLast)
            ::SendMessageW(child, WM_SIZE, 0, 0);
    }
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CALLBACK CWnd::StdWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = FromHandlePermanent(hWnd);
    if (!wnd) // not ours (any more): nothing to dispatch to
        return ::DefWindowProcW(hWnd, message, wParam, lParam);

    MSG msg = {hWnd, message, wParam, lParam, 0, {0, 0}};
    const MSG* outer = wnd->m_pCurrentMsg;
    wnd->m_pCurrentMsg = &msg;
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    wnd->m_pCurrentMsg = outer;

    if (message == WM_NCDESTROY) // the window is gone: the object lets go of it
        wnd->Detach();
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
        // A control's notification goes to the control's own class first.
        CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, pResult))
            return TRUE;
    } else if (message == WM_NOTIFY) {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (!hdr) // malformed notification: nothing to route by
            return FALSE;
        code = hdr->code;
        id = static_cast<UINT>(hdr->idFrom);
        CWnd* child = FromHandlePermanent(hdr->hwndFrom);
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, pResult))
            return TRUE;
    }
    const framework::MessageMapEntry* e = framework::FindMessageEntry(GetMessageMap(), message, code, id);
    if (!e)
        return FALSE;
    *pResult = e->thunk(this, wParam, lParam);
    return TRUE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    UINT reflected;
    UINT code;
    if (message == WM_COMMAND) {
        reflected = framework::kReflectCommand;
        code = HIWORD(wParam);
    } else if (message == WM_NOTIFY) {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (!hdr) // malformed notification, reflected by hand: no code to look up
            return FALSE;
        reflected = framework::kReflectNotify;
        code = hdr->code;
    } else {
        return FALSE;
    }
    const framework::MessageMapEntry* e = framework::FindMessageEntry(GetMessageMap(), reflected, code, 0);
    if (!e)
        return FALSE;
    *pResult = e->thunk(this, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    if (!m_pCurrentMsg) // called outside a dispatch: nothing to default
        return 0;
    const MSG& m = *m_pCurrentMsg;
    return DefWindowProc(m.message, m.wParam, m.lParam);
}

// One line per default handler, read as a table.
// clang-format off
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
BOOL CWnd::OnSetCursor(HWND, UINT, UINT) { return static_cast<BOOL>(Default()); }
void CWnd::OnMouseMove(UINT, POINT) { Default(); }
void CWnd::OnMouseHover(UINT, POINT) { Default(); }
void CWnd::OnMouseLeave() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnSize(UINT, int, int) { Default(); }
// clang-format on
