// Stands in for the program in the tests of its folder: writes the program
// folder that the support routines find into program_folder.txt of its
// current directory (UTF-8), then logs one line through the program's log.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support_routines.h"

int wmain()
{
    const std::wstring folder = ProgramFolder();
    const int n = WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), static_cast<int>(folder.size()), nullptr, 0,
        nullptr, nullptr);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, folder.c_str(), static_cast<int>(folder.size()), &text[0], n, nullptr,
            nullptr);
    FILE* f = _wfopen(L"program_folder.txt", L"wb");
    if (!f)
        return 1;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    WriteUpdateLog(L"probe line");
    return 0;
}
