// Replacing a small state file so that a crash, a power cut or a full drive
// during the write never leaves a torn file: the bytes go to a temporary
// file beside the target, reach the disk, and only then take the target's
// name in one rename. Portable (Win32 and POSIX forms); any thread; blocks
// on the disk.
#pragma once

#include <filesystem>
#include <vector>

namespace tollgrove {

// The temporary file's name beside `path`.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& path);

// Replaces `path` with `bytes`. On any failure the earlier file at `path`
// is left as it was, no temporary file stays behind, and false is returned.
bool ReplaceFileContents(const std::filesystem::path& path, const std::vector<char>& bytes);

} // namespace tollgrove
