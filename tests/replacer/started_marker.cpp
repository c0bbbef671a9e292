// Stands in for the new program: records each start as one line of
// "started.txt" in its current directory: its own file name, ": ", and the
// command line it was given.
#include <windows.h>

int main()
{
    HANDLE file = CreateFileA("started.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    const char* name = module;
    for (const char* p = module; *p; ++p)
        if (*p == '\\')
            name = p + 1;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, name, lstrlenA(name), &written, nullptr);
    WriteFile(file, ": ", 2, &written, nullptr);
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return 0;
}
