// Start-up's self-update run. Main thread only, before any window: blocks
// for the whole self-update; sends no window message.
#pragma once
#include <string>

// Runs the self-update for the executable's file name (no folder) with the
// update folder in place, logs its outcome and removes the folder unless the
// replacer now runs from it. 1 when the replacer was started and the process
// must end without a window, else 0.
int RunSelfUpdate(const std::wstring& exeName);
