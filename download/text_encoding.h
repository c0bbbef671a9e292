// Conversions between the program's wide strings and the engine's narrow
// ones. Portable; any thread.
#pragma once

#include <cstddef>
#include <string>

namespace tollgrove {

// The longest path Windows opens without the long-path prefix, in UTF-16
// units and without the terminator (MAX_PATH - 1).
constexpr std::size_t kMaxEnginePathUnits = 259;

// A path for the engine's interface and our loader (the .torrent and resume
// paths): UTF-8, which the engine and the loader read on Windows, so that
// any folder name the user can type survives. A text longer than
// `maxUnits` UTF-16 units is refused (empty) rather than cut; the limit
// counts as Windows counts, so a Vietnamese letter is one unit however
// many UTF-8 bytes it takes.
std::string NarrowForEngine(const std::wstring& text, std::size_t maxUnits = kMaxEnginePathUnits);

// A URL for the engine's interface (the Direct-HTTP source): UTF-8 with
// every byte outside ASCII percent-encoded, as a request line must carry
// it; an ASCII URL comes out byte for byte as it was. The same limit in
// UTF-16 units as for paths, counted on the text as written.
std::string NarrowUrlForEngine(const std::wstring& url, std::size_t maxUnits = kMaxEnginePathUnits);

// UTF-16 units of `text`: its length where wchar_t is 16 bits, and with a
// character beyond U+FFFF counted twice where wchar_t is 32 bits.
std::size_t Utf16Units(const std::wstring& text);

// UTF-8 <-> UTF-16 for the engine's file names and peers' client names. A
// lone surrogate becomes U+FFFD in UTF-8, never bytes no reader accepts; a
// malformed UTF-8 byte becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace tollgrove
