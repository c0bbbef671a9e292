// The program's entry point: drives the application object.
#include <windows.h>

#include "framework/win_app.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (!app) // the program defines no application object
        return -1;
    app->m_hInstance = hInstance;
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
