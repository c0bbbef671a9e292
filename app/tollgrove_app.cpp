#include "app/tollgrove_app.h"

#include <commctrl.h>

#include <string>

#include "app/run_self_update.h"
#include "ui/tollgrove_dlg.h"

CTollgroveApp theApp;

namespace {

// The executable's full path. A path longer than MAX_PATH would come back
// cut, and its folder and name with it, so the buffer grows until it fits.
std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size() || path.size() >= 32768) {
            path.resize(length < path.size() ? length : 0);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

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

    // The mutex is only a marker: another instance made it first, so leave
    // without a word. When it cannot be made at all, start as usual.
    m_hInstanceMutex = ::CreateMutexW(nullptr, FALSE, L"Tollgrove");
    if (m_hInstanceMutex && ::GetLastError() == ERROR_ALREADY_EXISTS)
        return FALSE;

    // Work beside the executable, whatever folder a shortcut started us in.
    const std::wstring path = ModulePath();
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos)
        ::SetCurrentDirectoryW(path.substr(0, slash).c_str());
    ::CreateDirectoryW(L"logs\\", nullptr); // it may exist already

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
    if (m_hInstanceMutex) {
        ::CloseHandle(m_hInstanceMutex);
        m_hInstanceMutex = nullptr;
    }
    return CWinApp::ExitInstance();
}
