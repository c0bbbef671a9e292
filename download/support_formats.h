// Texts of the support routines that need no system call. Portable: no
// windows.h; any thread.
#pragma once
#include <cstdint>
#include <string>

struct LocalTimeFields
{
    unsigned year, month, day, hour, minute, second;
};

// "logs\update%u%02u.txt" from the year and month.
std::wstring UpdateLogFileName(const LocalTimeFields& t);

// "%u%02u%02u%02u%02u%02u " + text + "\n" (text mode turns it into CR LF).
std::string UpdateLogLine(const LocalTimeFields& t, const std::string& text);

// The drive root the free-space test looks at: the target's own "X:\" when
// its second and third characters are ":\", else the first three
// characters of the current directory (empty when that is unknown).
std::wstring FreeSpaceRootFor(const std::wstring& targetPath, const std::wstring& currentDirectory);

// The folder part of a path: up to, not including, its last '\'; empty
// when it has none.
std::wstring ParentFolderOf(const std::wstring& path);

// The text after the last '\'; the whole text when it has none.
std::wstring FileNameOf(const std::wstring& path);

// The text a call left in a zero-filled buffer of `capacity` characters:
// up to the first terminator, the whole buffer when it has none.
// HttpQueryInfoW's returned length is bytes under Wine but characters in
// places of Windows' documentation; read this way, either unit gives the
// same text ("150000", not "150").
std::wstring TextUpToTerminator(const wchar_t* buffer, std::size_t capacity);

// A Content-Length header value: decimal digits with optional blanks
// around them, at most 4,294,967,295. False for anything else (empty,
// signs, other text, or a value beyond 32 bits).
bool ParseContentLength(const std::wstring& text, uint32_t& value);
