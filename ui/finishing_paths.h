// The paths of the finishing steps and the Play rule. Portable.
#pragma once

#include <string>

namespace tollgrove {

// installPath + "\" + name: how the configuration's relative names (RunFile,
// ShortcutFile) become paths in the install folder; no test whether `name`
// was absolute already.
std::wstring InstallRelativePath(const std::wstring& installPath, const std::wstring& name);

// desktop + "\" + name + ".lnk" (the desktop folder without its trailing
// backslash); an empty name gives a file named ".lnk".
std::wstring DesktopLinkPath(const std::wstring& desktop, const std::wstring& name);

// Play starts the program only when ".exe" (case-sensitive, first
// occurrence) stands after the first character.
bool NamesProgramFile(const std::wstring& runFile);

} // namespace tollgrove
