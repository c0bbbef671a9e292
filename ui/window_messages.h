// Private messages of the main window.
#pragma once
#include <windows.h>

// The notification-area icon's callback; lParam is the mouse message.
#define WM_TRAY_NOTIFY (WM_USER + 1)
// Posted by the worker as its last action; lParam is the WorkerResult.
#define WM_WORKER_FINISHED (WM_USER + 2)
// Sent by the worker; lParam is the RefreshMask.
#define WM_REFRESH_STATUS (WM_USER + 3)
// Posted by the picture control when clicked: a message of its own, so the
// click never reaches the worker-finished handler (which joins the worker).
#define WM_PICTURE_CLICKED (WM_USER + 4)
