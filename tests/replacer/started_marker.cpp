// Stands in for the new program: records each start (its command line) as one
// line of "started.txt" in its current directory.
#include <windows.h>

int main()
{
    HANDLE file = CreateFileA("started.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return 0;
}
