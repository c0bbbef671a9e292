// CWinThread / CWinApp: the program object. Our wWinMain (win_main.cpp)
// finds the one CWinApp the program defines as a global, calls InitInstance
// and, when that returns TRUE, Run (a GetMessageW loop); then ExitInstance,
// whose value is the process's exit code. All on the process's first thread.
#pragma once
#include "framework/cmd_target.h"

class CWnd;

class CWinThread : public CCmdTarget
{
    DECLARE_DYNAMIC(CWinThread)

public:
    CWnd* m_pMainWnd = nullptr; // the window the thread's work centres on (not owned)

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The thread's message loop until WM_QUIT, then ExitInstance.
    virtual int Run();

protected:
    CWinThread() = default;
    int m_nQuitCode = 0; // WM_QUIT's wParam when Run ended
};

class CWinApp : public CWinThread
{
    DECLARE_DYNAMIC(CWinApp)

public:
    // The program's one application object registers itself here (construct
    // it as a global before wWinMain runs). lpszAppName may be null.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // ID_HELP: the program ships no help file, so there is nothing to open.
    void OnHelp() {}

    LPCWSTR m_pszAppName;
    HINSTANCE m_hInstance = nullptr;

    DECLARE_MESSAGE_MAP()
};

// The application object and the module that holds the resources. Any thread.
CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

// Our dialogs host no ActiveX controls: nothing to enable; kept so start-up
// reads as the class library's sequence.
inline void AfxEnableControlContainer() {}

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
