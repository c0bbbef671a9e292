#include "vietnamese_fold.h"

#include <cstdint>

namespace {

struct Fold
{
    char16_t letter;
    char16_t base;
};

// The 44 letters below U+1EA0; the range U+1EA0..U+1EF9 is computed.
constexpr Fold kLowTable[] = {
    {0x00C0, 'A'}, {0x00C1, 'A'}, {0x00C2, 'A'}, {0x00C3, 'A'}, {0x0102, 'A'},
    {0x00C8, 'E'}, {0x00C9, 'E'}, {0x00CA, 'E'},
    {0x00CC, 'I'}, {0x00CD, 'I'}, {0x0128, 'I'},
    {0x00D2, 'O'}, {0x00D3, 'O'}, {0x00D4, 'O'}, {0x00D5, 'O'}, {0x01A0, 'O'},
    {0x00D9, 'U'}, {0x00DA, 'U'}, {0x0168, 'U'}, {0x01AF, 'U'},
    {0x00DD, 'Y'},
    {0x0110, 'D'},
    {0x00E0, 'a'}, {0x00E1, 'a'}, {0x00E2, 'a'}, {0x00E3, 'a'}, {0x0103, 'a'},
    {0x00E8, 'e'}, {0x00E9, 'e'}, {0x00EA, 'e'},
    {0x00EC, 'i'}, {0x00ED, 'i'}, {0x0129, 'i'},
    {0x00F2, 'o'}, {0x00F3, 'o'}, {0x00F4, 'o'}, {0x00F5, 'o'}, {0x01A1, 'o'},
    {0x00F9, 'u'}, {0x00FA, 'u'}, {0x0169, 'u'}, {0x01B0, 'u'},
    {0x00FD, 'y'},
    {0x0111, 'd'},
};

// U+1EA0..U+1EF9 in runs of one base letter; even code points are capitals.
struct Run
{
    char16_t first;
    char16_t last;
    char16_t capital;
};
constexpr Run kHighRuns[] = {
    {0x1EA0, 0x1EB7, 'A'}, {0x1EB8, 0x1EC7, 'E'}, {0x1EC8, 0x1ECB, 'I'},
    {0x1ECC, 0x1EE3, 'O'}, {0x1EE4, 0x1EF1, 'U'}, {0x1EF2, 0x1EF9, 'Y'},
};

} // namespace

char16_t BaseLetterOf(char16_t c)
{
    if (c >= 0x1EA0 && c <= 0x1EF9) {
        for (const Run& r : kHighRuns)
            if (c >= r.first && c <= r.last)
                return (c % 2 == 0) ? r.capital : static_cast<char16_t>(r.capital - 'A' + 'a');
    }
    for (const Fold& f : kLowTable)
        if (f.letter == c)
            return f.base;
    return c;
}

std::wstring StripVietnameseMarks(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        // A wchar_t beyond 16 bits (native Linux builds) is no table letter.
        const uint32_t code = static_cast<uint32_t>(c);
        if (code < 0xC0 || code > 0xFFFFu)
            out += c;
        else
            out += static_cast<wchar_t>(BaseLetterOf(static_cast<char16_t>(c)));
    }
    return out;
}
