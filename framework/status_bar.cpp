#include "framework/status_bar.h"

#include "download/win_gdi.h"
#include "framework/win_app.h"

IMPLEMENT_DYNAMIC(CStatusBar, CWnd)

BEGIN_MESSAGE_MAP(CStatusBar, CWnd)
    ON_WM_SIZE()
    ON_MESSAGE(kReadPaneText, &CStatusBar::OnReadPaneText)
END_MESSAGE_MAP()

BOOL CStatusBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID)
{
    if (!pParentWnd || !pParentWnd->m_hWnd)
        return FALSE;
    DWORD style = dwStyle & ~static_cast<DWORD>(CBRS_BOTTOM);
    if (dwStyle & CBRS_BOTTOM)
        style |= CCS_BOTTOM;
    RECT none = {0, 0, 0, 0}; // the control places itself on WM_SIZE
    return CreateEx(0, STATUSCLASSNAMEW, nullptr, style, none, pParentWnd->m_hWnd, nID);
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount)
{
    if (nIDCount < 0 || nIDCount > 255 || (nIDCount > 0 && !lpIDArray)) // the control has at most 256 parts
        return FALSE;
    m_panes.clear();
    std::vector<std::wstring> texts;
    {
        WindowDc dc(m_hWnd);
        SelectedObject font(dc.Get(), reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
        for (int i = 0; i < nIDCount; ++i) {
            std::wstring text;
            if (lpIDArray[i] != 0) {
                const wchar_t* res = nullptr;
                int n = ::LoadStringW(AfxGetResourceHandle(), lpIDArray[i], reinterpret_cast<LPWSTR>(&res), 0);
                if (n > 0 && res)
                    text.assign(res, static_cast<size_t>(n));
            }
            SIZE extent = {0, 0};
            if (dc.Get() && !text.empty())
                ::GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
            m_panes.push_back({lpIDArray[i], SBPS_NORMAL, static_cast<int>(extent.cx)});
            texts.push_back(std::move(text));
        }
    } // the font goes out of the DC and the DC back to the window before the parts are laid out
    UpdateParts();
    for (int i = 0; i < nIDCount; ++i)
        SetPaneText(i, texts[static_cast<size_t>(i)].c_str());
    return TRUE;
}

int CStatusBar::CommandToIndex(UINT nIDFind) const
{
    for (size_t i = 0; i < m_panes.size(); ++i) {
        if (m_panes[i].id == nIDFind)
            return static_cast<int>(i);
    }
    return -1;
}

void CStatusBar::SetPaneInfo(int nIndex, UINT nID, UINT nStyle, int cxWidth)
{
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_panes.size())
        return;
    m_panes[static_cast<size_t>(nIndex)] = {nID, nStyle, cxWidth < 0 ? 0 : cxWidth};
    UpdateParts();
    // The drawing flags of the style travel with the text.
    std::wstring text = GetPaneText(nIndex);
    SetPaneText(nIndex, text.c_str());
}

void CStatusBar::GetPaneInfo(int nIndex, UINT& nID, UINT& nStyle, int& cxWidth) const
{
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_panes.size()) {
        nID = 0;
        nStyle = 0;
        cxWidth = 0;
        return;
    }
    const Pane& p = m_panes[static_cast<size_t>(nIndex)];
    nID = p.id;
    nStyle = p.style;
    cxWidth = p.width;
}

BOOL CStatusBar::SetPaneText(int nIndex, LPCWSTR lpszNewText, BOOL bUpdate)
{
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_panes.size())
        return FALSE;
    UINT flags = m_panes[static_cast<size_t>(nIndex)].style & (SBT_NOBORDERS | SBT_POPOUT);
    BOOL ok = static_cast<BOOL>(SendMessage(SB_SETTEXTW, static_cast<WPARAM>(nIndex) | flags,
                                            reinterpret_cast<LPARAM>(lpszNewText ? lpszNewText : L"")));
    if (ok && bUpdate)
        UpdateWindow();
    return ok;
}

std::wstring CStatusBar::GetPaneText(int nIndex) const
{
    std::wstring text;
    if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_panes.size())
        SendMessage(kReadPaneText, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&text));
    return text;
}

LRESULT CStatusBar::OnReadPaneText(WPARAM wParam, LPARAM lParam)
{
    // SB_GETTEXTW takes no buffer size: the length and the copy must come
    // from the same moment, which holds on the bar's own thread only, where
    // no other change can come between the two.
    std::wstring& text = *reinterpret_cast<std::wstring*>(lParam);
    size_t length = LOWORD(DefWindowProc(SB_GETTEXTLENGTHW, wParam, 0));
    std::vector<wchar_t> buf(length + 1, L'\0');
    DefWindowProc(SB_GETTEXTW, wParam, reinterpret_cast<LPARAM>(buf.data()));
    text.assign(buf.data());
    return 0;
}

void CStatusBar::OnSize(UINT, int, int)
{
    Default(); // the control docks itself to the parent's client area
    UpdateParts();
}

void CStatusBar::UpdateParts()
{
    if (!m_hWnd || m_panes.empty())
        return;
    RECT client = {0, 0, 0, 0};
    GetClientRect(&client);
    int total = 0;
    for (const Pane& p : m_panes)
        total += p.width;
    int extra = (client.right - client.left) - total;
    bool stretched = false;
    std::vector<int> edges;
    int right = 0;
    for (const Pane& p : m_panes) {
        right += p.width;
        if (!stretched && (p.style & SBPS_STRETCH) && extra > 0) {
            right += extra;
            stretched = true;
        }
        edges.push_back(right);
    }
    SendMessage(SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}
