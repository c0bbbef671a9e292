#include "run_self_update.h"

#include <windows.h>

#include <cwchar>

#include "self_update.h"
#include "support_routines.h"

int RunSelfUpdate(const std::wstring& exeName)
{
    int32_t step = 0;
    int32_t error = 0;
    CreateDirectoryW(kUpdateFolder, nullptr); // it may exist already

    switch (SelfUpdate(exeName.c_str(), &step, &error)) {
    case UPDATE_STARTED:
        WriteUpdateLog(L"Tollgrove exit to selfupdate");
        return 1; // the replacer runs from the update folder: leave it
    case UPDATE_FAILED: {
        wchar_t line[96];
        swprintf(line, sizeof(line) / sizeof(line[0]), L"Tollgrove selfupdate failed. Step: %d, system error: %d",
            static_cast<int>(step), static_cast<int>(error));
        WriteUpdateLog(line);
        break;
    }
    default:
        WriteUpdateLog(L"Tollgrove selfupdate => success");
        break;
    }
    DeleteDirectoryTree(kUpdateFolder);
    return 0;
}
