#include "app/tollgrove_app.h"

#include <commctrl.h>

#include <string>

#include "app/run_self_update.h"
#include "download/support_routines.h"
#include "ui/tollgrove_dlg.h"

CTollgroveApp theApp;

BEGIN_MESSAGE_MAP(CTollgroveApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTollgroveApp::CTollgroveApp() : CWinApp(nullptr)
{
}

BOOL CTollgroveApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    CWinApp::InitInstance();
    AfxEnableControlContainer();

    // The mutex is only a marker: another instance made it first, so leave
    // without a word. When it cannot be made at all, start as usual.
    m_hInstanceMutex = KernelHandle(::CreateMutexW(nullptr, FALSE, L"Tollgrove"));
    if (m_hInstanceMutex.IsValid() && ::GetLastError() == ERROR_ALREADY_EXISTS)
        return FALSE;

    // Work beside the executable, whatever folder a shortcut started us in.
    const std::wstring path = ModuleFileName();
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos)
        ::SetCurrentDirectoryW(path.substr(0, slash).c_str());
    ::CreateDirectoryW(L"logs\\", nullptr); // it may exist already
    if (slash != std::wstring::npos)
        SetUpdateLogFolder(path.substr(0, slash));

    const std::wstring exeName = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (RunSelfUpdate(exeName) == 1)
        return FALSE; // the replacer takes over once this process has ended

    CTollgroveDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr; // the window object ends here
    return FALSE;
}

int CTollgroveApp::ExitInstance()
{
    m_hInstanceMutex.Close();
    return CWinApp::ExitInstance();
}
