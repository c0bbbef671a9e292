// File-time stamps of the self-update: "%lu:%lu", the high and the low
// half of a FILETIME (100-ns units, UTC). Portable: no windows.h; any thread.
#pragma once
#include <cstdint>
#include <string>

// Reads the two numbers as "%lu:%lu" scans them: leading blanks skipped
// before each number, a sign allowed, the colon right after the first
// number, text after the second ignored. A number beyond 32 bits is
// refused. False when fewer than two numbers are read.
bool ParseFileStamp(const std::wstring& stamp, uint64_t& fileTime);

// True when both stamps parse and name the same UTC minute (cut to the
// minute, not within sixty seconds). A time the calendar conversion
// refuses (2^63 and beyond) is never equal to anything.
bool CompareFileStamps(const std::wstring& a, const std::wstring& b);

// The self-update's test whether the executable is the server's copy in
// time: the same minute (CompareFileStamps), or at most two seconds apart,
// the step in which FAT volumes keep file times (a server time of hh:mm:59
// is kept as the next minute there). Unparsable stamps never match.
bool SameUpdateTime(const std::wstring& local, const std::wstring& remote);

// "%lu:%lu" of a file time.
std::wstring FormatFileStamp(uint64_t fileTime);
