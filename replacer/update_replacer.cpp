// The replacer program: started by the self-update from the update folder
// with the downloaded files as arguments. It waits until each file can be
// moved over its destination (the old program holds its executable until it
// has ended), then starts the new program.
//
// Only the kernel is called, in its wide forms, so that a program named
// outside the ANSI code page ("tollgrove - Bản sao.exe") is found and
// replaced; the command line is split here (command_line.h), not by shell32.
// The runtime is linked statically, so the image runs from the update folder
// on its own.
#include <windows.h>

#include "command_line.h"

// Tests build a quick variant with a shorter wait; the shipped program waits
// one second before each of its 31 tries, which covers the old program's end.
#ifndef TG_REPLACER_TRIES
#define TG_REPLACER_TRIES 31
#endif
#ifndef TG_REPLACER_WAIT_MS
#define TG_REPLACER_WAIT_MS 1000
#endif

namespace {

// The destination of a downloaded file: its path without the first folder
// ("updatetollgrove\tollgrove.exe" goes to "tollgrove.exe"). A path without
// a folder is its own destination.
const wchar_t* DestinationOf(const wchar_t* source)
{
    for (const wchar_t* p = source; *p; ++p)
        if (*p == L'\\')
            return p + 1;
    return source;
}

// A read-only destination cannot be replaced: clear that bit, keep the others.
// A destination whose attributes cannot be read (it does not exist) is fine.
bool ClearReadOnly(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    return SetFileAttributesW(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != FALSE;
}

bool MoveWithRetries(const wchar_t* source, const wchar_t* destination)
{
    for (int i = 0; i < TG_REPLACER_TRIES; ++i) {
        Sleep(TG_REPLACER_WAIT_MS);
        if (MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING))
            return true;
    }
    return false;
}

// Starts the program with no arguments, in our environment and current
// directory, and does not wait for it. A name with a blank is quoted: else
// the system would take "my game.exe" for "my.exe" when such a file exists.
bool StartProgram(const wchar_t* path)
{
    static wchar_t commandLine[32768]; // the longest command line; CreateProcessW writes into it
    bool quote = false;
    unsigned length = 0;
    for (; path[length]; ++length)
        quote = quote || replacer::IsBlank(path[length]);
    if (length + 3 > sizeof(commandLine) / sizeof(commandLine[0]))
        return false;
    unsigned at = 0;
    if (quote)
        commandLine[at++] = L'"';
    for (unsigned i = 0; i < length; ++i)
        commandLine[at++] = path[i];
    if (quote)
        commandLine[at++] = L'"';
    commandLine[at] = 0;

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// One argument at a time, and the first one kept for the start: an
// argument is never longer than the command line (32,767 characters).
wchar_t g_argument[32768];
wchar_t g_first[32768];

} // namespace

// Exit code 0 when every file was moved and the new program started, else 1.
// A file that fails to move does not stop the others; a read-only
// destination whose attribute cannot be cleared stops everything at once.
int UpdateReplacer(const wchar_t* commandLine)
{
    const wchar_t* cursor = replacer::SkipProgramName(commandLine);
    if (!replacer::NextArgument(cursor, g_first))
        return 1;
    bool success = true;
    const wchar_t* source = g_first;
    do {
        const wchar_t* destination = DestinationOf(source);
        if (!ClearReadOnly(destination))
            return 1;
        if (!MoveWithRetries(source, destination))
            success = false;
        source = g_argument;
    } while (replacer::NextArgument(cursor, g_argument));
    if (!success)
        return 1;
    return StartProgram(DestinationOf(g_first)) ? 0 : 1;
}

int main()
{
    return UpdateReplacer(GetCommandLineW());
}
