// The application object: the program's start-up before the main window.
#pragma once
#include "download/win_handles.h"
#include "framework/framework.h"

class CTollgroveApp : public CWinApp
{
public:
    CTollgroveApp();

    // On the process's only thread, before any window; FALSE always, so
    // that no message loop of the framework runs after the main window.
    BOOL InitInstance() override;
    int ExitInstance() override;

protected:
    KernelHandle m_hInstanceMutex; // the single-instance marker; empty until InitInstance

    DECLARE_MESSAGE_MAP()
};

extern CTollgroveApp theApp;
