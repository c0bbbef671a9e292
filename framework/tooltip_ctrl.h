// CToolTipCtrl: the common tooltip control (tooltips_class32), a popup owned
// by the window it serves; each method sends one TTM_ message. Tools are added
// without TTF_SUBCLASS: the owner relays mouse messages (RelayEvent, usually
// from PreTranslateMessage).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "framework/wnd.h"

class CToolTipCtrl : public CWnd
{
    DECLARE_DYNAMIC(CToolTipCtrl)

public:
    CToolTipCtrl() = default;

    // GUI thread: creates the tooltip window owned by pParentWnd.
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = 0);

    void Activate(BOOL bActivate) { SendMessage(TTM_ACTIVATE, bActivate, 0); }
    // A tool for an area of pWnd's client area, named by nIDTool (not 0).
    BOOL AddTool(CWnd* pWnd, LPCWSTR lpszText, const RECT* lpRectTool, UINT_PTR nIDTool);
    void DelTool(CWnd* pWnd, UINT_PTR nIDTool);
    void UpdateTipText(LPCWSTR lpszText, CWnd* pWnd, UINT_PTR nIDTool);
    std::wstring GetText(CWnd* pWnd, UINT_PTR nIDTool) const;
    int GetToolCount() const { return static_cast<int>(SendMessage(TTM_GETTOOLCOUNT, 0, 0)); }
    void SetDelayTime(DWORD dwDuration, int iTime) { SendMessage(TTM_SETDELAYTIME, dwDuration, MAKELPARAM(iTime, 0)); }
    void RelayEvent(MSG* pMsg) { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg)); }
    void Popup() { SendMessage(TTM_POPUP, 0, 0); }
    void Pop() { SendMessage(TTM_POP, 0, 0); }
};
