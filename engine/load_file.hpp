// Whole-file loader with the size cap for .torrent and resume files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tg {

// The largest .torrent or resume file we read: 15 MiB. Bigger files are
// refused before any byte is read, so a hostile file cannot exhaust memory.
constexpr std::int64_t load_file_size_cap = 15 * 1024 * 1024;

// Reads the whole file `filename` (narrow, UTF-8 on Windows as the engine
// takes its paths) into `v`. Returns
//   0   the whole file was read (v holds exactly its bytes; empty file: empty v)
//   -1  the file cannot be opened or its size cannot be read (v unchanged)
//   -2  the file is larger than load_file_size_cap (v unchanged)
//   -3  the read returned fewer bytes or failed (v has the file's size; do not
//       use its contents)
// Any thread; blocks on file I/O; throws nothing.
int load_file(std::string const& filename, std::vector<char>& v);

} // namespace tg
