// One download attempt on a worker thread of its own.
#pragma once
#include <windows.h>

// Thread entry; the argument is the main window (CTollgroveDlg). Sets the
// window's labels through sent messages, runs the install-folder question
// with the window as parent, and ends by posting WM_WORKER_FINISHED with
// the WorkerResult (or WM_QUIT when the install-folder question was
// cancelled). Returns the posted result (4 after a failed .torrent fetch,
// 0 after a cancel).
DWORD WINAPI WorkerThreadProc(LPVOID param);
