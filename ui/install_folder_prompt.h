// The install-folder question of an attempt. Worker thread; runs a modal
// dialog owned by the worker with `parent` (the main window) disabled.
#pragma once
#include <string>

#include "framework/framework.h"

// Runs CPathInstallDlg proposing C:\ + gameFolderName. IDCANCEL after
// Cancel or Escape; any other result leaves the dialog's path in `chosen`.
INT_PTR AskInstallFolder(CWnd* parent, const std::wstring& gameFolderName, std::wstring& chosen);
