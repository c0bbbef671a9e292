#include "support_routines.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <shlwapi.h>

#include "file_stamps.h"
#include "support_formats.h"
#include "win_handles.h"

namespace {
constexpr size_t kCommandLineChars = 260;

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, "?", nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, "?", nullptr);
    return out;
}
} // namespace

std::wstring ModuleFileName(size_t firstTry)
{
    // A fixed buffer would cut a long path into another file's name: grow
    // until it fits (32,767 characters is the longest path there is).
    std::wstring path(firstTry > 0 ? firstTry : 1, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::wstring ProgramFolder()
{
    const std::wstring path = ModuleFileName();
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

namespace {
std::wstring g_logFolder; // written once at start-up, before other threads
} // namespace

void SetUpdateLogFolder(const std::wstring& folder)
{
    g_logFolder = folder;
}

void WriteUpdateLog(const std::wstring& text)
{
    WriteLogLineIn(g_logFolder, text);
}

void WriteLogLineIn(const std::wstring& folder, const std::wstring& text)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    const LocalTimeFields t = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    const std::wstring name = folder.empty() ? UpdateLogFileName(t) : folder + L"\\" + UpdateLogFileName(t);
    CrtFile file(_wfopen(name.c_str(), L"at"));
    if (!file.IsValid())
        return;
    const std::string line = UpdateLogLine(t, ToAnsi(text));
    std::fwrite(line.data(), 1, line.size(), file.Get());
}

void DeleteDirectoryTree(const std::wstring& folder)
{
    if (folder.empty())
        return;
    std::wstring base = folder;
    if (base.back() != L'\\')
        base += L'\\';
    WIN32_FIND_DATAW entry = {};
    {
        FindHandle search(FindFirstFileW((base + L"*.*").c_str(), &entry));
        if (!search.IsValid())
            return;
        // "." and ".." are skipped by name, not by position: a name that sorts
        // before "." (such as "!x") comes first on some file systems, and
        // taking ".." for a subfolder would empty the parent.
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = base + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteDirectoryTree(child);
            } else {
                const DWORD attributes = GetFileAttributesW(child.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
                    SetFileAttributesW(child.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search.Get(), &entry));
    } // the search ends before its folder is removed
    RemoveDirectoryW(folder.c_str());
}

int SetFileTimeFromStamp(const std::wstring& stamp, const std::wstring& path)
{
    uint64_t time = 0;
    if (!ParseFileStamp(stamp, time))
        return 0;
    FileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return 0;
    FILETIME lastWrite;
    lastWrite.dwHighDateTime = static_cast<DWORD>(time >> 32);
    lastWrite.dwLowDateTime = static_cast<DWORD>(time);
    return SetFileTime(file.Get(), nullptr, nullptr, &lastWrite) ? 1 : 0;
}

bool WriteResourceToFile(HRSRC resource, const std::wstring& path)
{
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (!loaded)
        return false;
    const void* bytes = LockResource(loaded);
    const DWORD size = SizeofResource(nullptr, resource);
    if (!bytes && size != 0)
        return false;
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    if (size != 0 && !WriteFile(file.Get(), bytes, size, &written, nullptr))
        written = 0;
    FlushFileBuffers(file.Get());
    return written == size;
}

std::wstring FullPathName(const std::wstring& path)
{
    if (path.empty())
        return std::wstring();
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (n == 0)
            return std::wstring();
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n); // the size it needs, terminator included
    }
}

bool IsExistingFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ByteSizeText(int64_t bytes)
{
    wchar_t text[64] = {}; // the longest answer, "1.00 EB" and the like, is far shorter
    StrFormatByteSizeW(bytes, text, ARRAYSIZE(text));
    return text;
}

uint32_t LaunchProgram(const std::wstring& commandLine)
{
    // A cut command line would start some other program or argument list.
    if (commandLine.size() >= kCommandLineChars)
        return 0;
    std::vector<wchar_t> buffer(kCommandLineChars, L'\0');
    std::copy(commandLine.begin(), commandLine.end(), buffer.begin());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ProcessHandles process;
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        process.Receive()))
        return 0;
    return process.Get().dwProcessId;
}
