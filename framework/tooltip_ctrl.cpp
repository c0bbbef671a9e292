#include "framework/tooltip_ctrl.h"

#include <vector>

namespace {

// The tool record as every version of the control accepts it (without the
// trailing reserved field that older versions refuse).
TOOLINFOW ToolInfo(CWnd* pWnd, UINT_PTR nIDTool)
{
    TOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = pWnd ? pWnd->m_hWnd : nullptr;
    ti.uId = nIDTool;
    return ti;
}

} // namespace

IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)

BOOL CToolTipCtrl::Create(CWnd* pParentWnd, DWORD dwStyle)
{
    RECT none = {0, 0, 0, 0}; // the control sizes and places itself when it shows
    BOOL ok = CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | dwStyle, none,
                       pParentWnd ? pParentWnd->m_hWnd : nullptr, 0);
    if (ok)
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return ok;
}

BOOL CToolTipCtrl::AddTool(CWnd* pWnd, LPCWSTR lpszText, const RECT* lpRectTool, UINT_PTR nIDTool)
{
    TOOLINFOW ti = ToolInfo(pWnd, nIDTool);
    if (lpRectTool)
        ti.rect = *lpRectTool;
    else if (pWnd)
        pWnd->GetClientRect(&ti.rect);
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::DelTool(CWnd* pWnd, UINT_PTR nIDTool)
{
    TOOLINFOW ti = ToolInfo(pWnd, nIDTool);
    SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR lpszText, CWnd* pWnd, UINT_PTR nIDTool)
{
    TOOLINFOW ti = ToolInfo(pWnd, nIDTool);
    ti.lpszText = const_cast<LPWSTR>(lpszText);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

std::wstring CToolTipCtrl::GetText(CWnd* pWnd, UINT_PTR nIDTool) const
{
    // Newer controls take the buffer's size in wParam; older ones copy at
    // most 80 characters, which the buffer holds as well.
    std::vector<wchar_t> buf(256, L'\0');
    TOOLINFOW ti = ToolInfo(pWnd, nIDTool);
    ti.lpszText = buf.data();
    SendMessage(TTM_GETTEXTW, buf.size() - 1, reinterpret_cast<LPARAM>(&ti));
    return std::wstring(buf.data());
}
