// Texts of the self-update that need no system call. Portable: no windows.h;
// any thread.
#pragma once
#include <cstddef>
#include <string>

// "http://" + host + "/update/tgupdate/tollgrove.exe": the server's file name
// is fixed whatever the local program is called.
std::wstring UpdateUrl(const std::wstring& host);

// "Host: " + host + "\r\n"; empty when there is no host.
std::wstring UpdateRequestHeader(const std::wstring& host);

// The folder with a '\' at its end.
std::wstring WithTrailingBackslash(const std::wstring& folder);

// The replacer's argument text: a blank, then the downloaded file's relative
// path (folder + name). The replacer splits its command line by the runtime's
// rules, so a name with a blank or tab is quoted to arrive as one argument.
std::wstring ReplacerArguments(const std::wstring& folder, const std::wstring& exeName);

// True when the bytes begin like a Windows program image ("MZ"): anything
// else (an error page, an empty answer) must never replace the program.
bool LooksLikeProgramImage(const unsigned char* bytes, std::size_t size);
