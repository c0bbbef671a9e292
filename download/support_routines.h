// Support routines of start-up, the self-update and Play. Main thread by
// design (nothing here takes a lock); each blocks on the file system;
// none sends a window message. Failures become the return value or nothing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The program's executable path, whatever its length (empty only when the
// system cannot give it), and its folder without the trailing backslash.
// The first buffer holds `firstTry` characters (tests start it small).
std::wstring ModuleFileName(size_t firstTry = MAX_PATH);
std::wstring ProgramFolder();

// Appends "YYYYMMDDhhmmss text" to logs\updateYYYYMM.txt of the log's
// folder (see SetUpdateLogFolder; else of the current directory); the line
// is lost when the file cannot be opened. Characters outside the ANSI code
// page become '?'. Any thread.
void WriteUpdateLog(const std::wstring& text);

// Start-up, before any other thread: the folder whose logs\ holds the log
// from now on, whatever the current directory becomes (an attempt makes
// the install folder current, which has no logs\).
void SetUpdateLogFolder(const std::wstring& folder);

// The same line into the log folder below `folder` (an absolute folder).
// Any thread.
void WriteLogLineIn(const std::wstring& folder, const std::wstring& text);

// Deletes the folder with everything below it, clearing read-only files
// first; whatever fails to delete stays (and so does its folder).
void DeleteDirectoryTree(const std::wstring& folder);

// Sets the file's last-write time from "%lu:%lu"; nonzero on success, 0
// (file untouched) when the stamp does not parse or the file cannot be opened.
int SetFileTimeFromStamp(const std::wstring& stamp, const std::wstring& path);

// Writes the program's own resource to a new file (replacing one); true
// when every byte was written.
bool WriteResourceToFile(HRSRC resource, const std::wstring& path);

// The absolute form of `path` (GetFullPathNameW, any length): a relative or
// drive-relative path resolved against the current directory now, once, so
// that a later change of directory cannot move it. Empty when the path
// cannot be made absolute (an empty text among them).
std::wstring FullPathName(const std::wstring& path);

// Whether `path` names an existing folder (not a file).
bool IsExistingFolder(const std::wstring& path);

// A byte count in the shell's size format ("1.50 MB"). Any thread.
std::wstring ByteSizeText(int64_t bytes);

// Starts the command line; the new process's id, 0 on failure. A command
// line of 260 characters or more is refused (0, nothing started).
uint32_t LaunchProgram(const std::wstring& commandLine);
