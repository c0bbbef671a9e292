// Stands in for the new program: records each start as one line of
// "started.txt" in its current directory: its own file name, ": ", and the
// command line it was given, in UTF-8 (names outside the ANSI code page
// included).
#include <windows.h>

namespace {

void WriteUtf8(HANDLE file, const wchar_t* text)
{
    static char bytes[4 * 32768];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    DWORD written = 0;
    if (n > 1)
        WriteFile(file, bytes, static_cast<DWORD>(n - 1), &written, nullptr);
}

} // namespace

int wmain()
{
    HANDLE file = CreateFileW(L"started.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    static wchar_t module[32768];
    GetModuleFileNameW(nullptr, module, sizeof(module) / sizeof(module[0]));
    const wchar_t* name = module;
    for (const wchar_t* p = module; *p; ++p)
        if (*p == L'\\')
            name = p + 1;
    WriteUtf8(file, name);
    WriteUtf8(file, L": ");
    WriteUtf8(file, GetCommandLineW());
    WriteUtf8(file, L"\r\n");
    CloseHandle(file);
    return 0;
}
