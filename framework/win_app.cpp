#include "framework/win_app.h"

namespace {

// The program's application object: the one global the layer keeps, set
// while static constructors run, before any thread exists.
CWinApp* g_app = nullptr;

} // namespace

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)
IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

BOOL CWinThread::InitInstance()
{
    return TRUE;
}

int CWinThread::ExitInstance()
{
    return m_nQuitCode;
}

int CWinThread::Run()
{
    MSG msg;
    BOOL r;
    while ((r = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (r == -1)
            break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    m_nQuitCode = (r == 0) ? static_cast<int>(msg.wParam) : 0;
    return ExitInstance();
}

CWinApp::CWinApp(LPCWSTR lpszAppName) : m_pszAppName(lpszAppName)
{
    if (!g_app)
        g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return CWinThread::ExitInstance();
}

CWinApp* AfxGetApp()
{
    return g_app;
}

HINSTANCE AfxGetInstanceHandle()
{
    return (g_app && g_app->m_hInstance) ? g_app->m_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    return AfxGetInstanceHandle();
}
