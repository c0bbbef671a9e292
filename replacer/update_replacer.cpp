// The replacer program: started by the self-update from the update folder
// with the downloaded files as arguments. It waits until each file can be
// moved over its destination (the old program holds its executable until it
// has ended), then starts the new program.
//
// Only the kernel's single-byte (ANSI) functions are called and the runtime
// is linked statically, so the image runs from the update folder on its own.
#include <windows.h>

#include <cstring>

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
const char* DestinationOf(const char* source)
{
    const char* slash = std::strchr(source, '\\');
    return slash ? slash + 1 : source;
}

// A read-only destination cannot be replaced: clear that bit, keep the others.
// A destination whose attributes cannot be read (it does not exist) is fine.
bool ClearReadOnly(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    return SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != FALSE;
}

bool MoveWithRetries(const char* source, const char* destination)
{
    for (int i = 0; i < TG_REPLACER_TRIES; ++i) {
        Sleep(TG_REPLACER_WAIT_MS);
        if (MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING))
            return true;
    }
    return false;
}

// Starts the program with no arguments, in our environment and current
// directory, and does not wait for it. A name with a blank is quoted: else
// the system would take "my game.exe" for "my.exe" when such a file exists.
bool StartProgram(const char* path)
{
    static char commandLine[32768]; // the longest command line; CreateProcessA writes into it
    const bool quote = std::strpbrk(path, " \t") != nullptr;
    const size_t length = std::strlen(path);
    if (length + 3 > sizeof(commandLine))
        return false;
    size_t at = 0;
    if (quote)
        commandLine[at++] = '"';
    std::memcpy(commandLine + at, path, length);
    at += length;
    if (quote)
        commandLine[at++] = '"';
    commandLine[at] = '\0';

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

// Exit code 0 when every file was moved and the new program started, else 1.
// A file that fails to move does not stop the others; a read-only
// destination whose attribute cannot be cleared stops everything at once.
int UpdateReplacer(int argc, char** argv)
{
    if (argc < 2)
        return 1;
    bool success = true;
    for (int i = 1; i < argc; ++i) {
        const char* destination = DestinationOf(argv[i]);
        if (!ClearReadOnly(destination))
            return 1;
        if (!MoveWithRetries(argv[i], destination))
            success = false;
    }
    if (!success)
        return 1;
    return StartProgram(DestinationOf(argv[1])) ? 0 : 1;
}

int main(int argc, char** argv)
{
    return UpdateReplacer(argc, argv);
}
