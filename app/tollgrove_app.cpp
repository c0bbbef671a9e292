#include "app/tollgrove_app.h"

#include <commctrl.h>

#include "ui/tollgrove_dlg.h"

CTollgroveApp theApp;

BEGIN_MESSAGE_MAP(CTollgroveApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTollgroveApp::CTollgroveApp() : CWinApp(nullptr), m_hInstanceMutex(nullptr)
{
}

BOOL CTollgroveApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    CWinApp::InitInstance();
    AfxEnableControlContainer();

    CTollgroveDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr; // the window object ends here
    return FALSE;
}

int CTollgroveApp::ExitInstance()
{
    if (m_hInstanceMutex) {
        ::CloseHandle(m_hInstanceMutex);
        m_hInstanceMutex = nullptr;
    }
    return CWinApp::ExitInstance();
}
