// The install-folder dialog's text rules. Portable.
#pragma once

#include <string>

namespace tollgrove {

// The edit box's first text: "C:\" followed directly by the game folder name.
std::wstring ProposedInstallPath(const std::wstring& gameFolder);

// A browsed folder as the install path: kept when its last characters are
// the game folder name (compared ignoring ASCII case, no separator asked
// for), else the folder + "\" + the name (the backslash is appended even
// after a trailing one).
std::wstring BrowsedInstallPath(const std::wstring& folder, const std::wstring& gameFolder);

} // namespace tollgrove
