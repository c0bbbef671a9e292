// Conversions between the program's wide strings and the engine's narrow
// ones. Portable; any thread.
#pragma once

#include <cstddef>
#include <string>

namespace tollgrove {

// Narrow strings for the engine's interface (the .torrent and resume paths,
// the source URL). Only characters up to U+00FF are accepted, anything else
// gives the empty string; the engine of this build reads narrow paths as
// UTF-8, so the accepted characters are written in UTF-8. A result longer
// than `maxBytes` (the fixed buffers hold 259 bytes and a terminator) is
// refused the same way rather than cut.
std::string NarrowForEngine(const std::wstring& text, std::size_t maxBytes = 259);

// UTF-8 <-> UTF-16 for the engine's file names and peers' client names. A
// lone surrogate becomes U+FFFD in UTF-8, never bytes no reader accepts; a
// malformed UTF-8 byte becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace tollgrove
