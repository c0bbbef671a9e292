// CStatusBar: the common status-bar control (msctls_statusbar32) with panes.
// Each pane has an id (its indicator string resource), a style and a width
// in pixels; the control's parts are the panes' right edges (SB_SETPARTS),
// a SBPS_STRETCH pane taking the width left over. Pane texts go through
// SB_SETTEXTW / SB_GETTEXTW (synchronous from another thread, see wnd.h).
// Threads: Create, SetIndicators and SetPaneInfo on the GUI thread; once the
// panes are set, any thread may set and read pane texts.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "framework/wnd.h"

// Control-bar ids and styles of the window layout.
#define AFX_IDW_CONTROLBAR_FIRST 0xE800
#define AFX_IDW_CONTROLBAR_LAST 0xE8FF
#define AFX_IDW_STATUS_BAR 0xE801
#define CBRS_BOTTOM 0x8000L // the bar sits at the parent's bottom edge

// Pane styles (the SBT_ drawing flags pass through to the control).
#define SBPS_NORMAL 0x0000u
#define SBPS_NOBORDERS SBT_NOBORDERS
#define SBPS_POPOUT SBT_POPOUT
#define SBPS_STRETCH 0x08000000u // takes the width the other panes leave

class CStatusBar : public CWnd
{
    DECLARE_DYNAMIC(CStatusBar)

public:
    CStatusBar() = default;

    // GUI thread: creates the bar as a child of pParentWnd.
    BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
                UINT nID = AFX_IDW_STATUS_BAR);
    // One pane per id; each pane's first text is the string resource of its
    // id (none for 0) and its width that text's width.
    BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);

    int GetCount() const { return static_cast<int>(m_panes.size()); }
    int CommandToIndex(UINT nIDFind) const;
    void SetPaneInfo(int nIndex, UINT nID, UINT nStyle, int cxWidth);
    void GetPaneInfo(int nIndex, UINT& nID, UINT& nStyle, int& cxWidth) const;
    // The control repaints the part itself; bUpdate FALSE only skips the
    // extra immediate repaint.
    BOOL SetPaneText(int nIndex, LPCWSTR lpszNewText, BOOL bUpdate = TRUE);
    std::wstring GetPaneText(int nIndex) const;

protected:
    void OnSize(UINT nType, int cx, int cy);
    LRESULT OnReadPaneText(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // Reads a pane's text on the bar's thread (wParam index, lParam the
    // std::wstring to fill).
    static constexpr UINT kReadPaneText = WM_APP + 0x3F00;

    struct Pane
    {
        UINT id;
        UINT style;
        int width;
    };
    void UpdateParts();

    std::vector<Pane> m_panes; // GUI thread only
};
