// The "\\?\" form of a Windows path, made by hand: in that form Windows takes
// every name as the file it says. With plain paths it maps names such as
// "nul", "con.txt", "aux.dat" or "com1.log" (in any folder) to devices, and
// GetFullPathNameW does the same, so the normalising is done here. Portable
// string work, no system call, so that it is tested natively too.
#pragma once

#include <string>

namespace tg {

// `path` (UTF-16, either separator) as "\\?\X:\a\b" or "\\?\UNC\server\share\a":
// absolute, with backslashes only, no "." or ".." parts and no empty parts.
// A segment ending in one period loses it and the last segment its trailing
// periods and spaces, as Windows does with a plain path, so that files land
// where they landed before. A relative path is taken from `current_dir`,
// "\name" from the drive (or share) of `current_dir`, "X:name" from
// `current_dir` when that is on X, else from X's root. A path already in the
// "\\?\" or "\\.\" form is returned as it is; so is `path` when
// `current_dir` is needed and not absolute.
std::wstring extended_path(std::wstring const& path, std::wstring const& current_dir);

} // namespace tg
