// The main window's own messages. Each has one sender and one meaning, so a
// handler never has to guess where a message came from.
#pragma once
#include <windows.h>

// The notification-area icon's callback (lParam: the mouse message).
#define WM_TRAY_NOTIFY (WM_USER + 1)
// Posted by the worker as its last action (lParam: the WorkerResult); the
// window then waits for the worker thread to end.
#define WM_WORKER_FINISHED (WM_USER + 2)
// Sent by the worker while it waits (lParam: the RefreshMask).
#define WM_REFRESH_STATUS (WM_USER + 3)
// Posted by the picture control when it is clicked (wParam 0, lParam 0).
// Never WM_WORKER_FINISHED: a click must not make the window wait for a
// worker that is still running.
#define WM_PICTURE_CLICKED (WM_USER + 4)
