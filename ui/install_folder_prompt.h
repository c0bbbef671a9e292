// The install-folder question of an attempt. Worker thread; runs a modal
// dialog owned by the worker with `parent` (the main window) disabled.
#pragma once
#include <string>

#include "framework/framework.h"

// IDOK with the chosen folder in `chosen`, or IDCANCEL.
INT_PTR AskInstallFolder(CWnd* parent, const std::wstring& gameFolderName, std::wstring& chosen);
