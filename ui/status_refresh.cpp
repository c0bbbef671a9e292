// The worker's WM_REFRESH_STATUS: the status-bar panes it asks for. Runs on
// the GUI thread while the worker waits for the message to return.
#include "ui/tollgrove_dlg.h"

LRESULT CTollgroveDlg::OnRefreshStatus(WPARAM, LPARAM lParam)
{
    const unsigned mask = static_cast<unsigned>(lParam);
    for (int pane = 0; pane < 4; ++pane)
        if (mask & (REFRESH_PANE_PORT << pane))
            m_statusBar.SetPaneText(pane, m_strPaneText[pane].c_str());
    return 0;
}
