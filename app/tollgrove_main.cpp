// Program entry: shows the main dialog until it is closed.
#include <windows.h>
#include <commctrl.h>

#include "resource.h"

static INT_PTR CALLBACK MainDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG)
        return TRUE;
    if (msg == WM_CLOSE || (msg == WM_COMMAND && LOWORD(wParam) == IDC_BTN_EXIT)) {
        EndDialog(hwnd, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, MainDialogProc, 0));
}
