// The replacer's own command-line splitting, by the rules the C runtime
// uses for argv on Windows, so that it needs nothing beyond the kernel's
// GetCommandLineW: blanks and tabs separate arguments, double quotes group
// (a pair of them inside quotes is one literal quote), and backslashes are
// literal except before a quote, where 2n of them give n and the quote
// groups, and 2n + 1 give n and a literal quote. The program's own name
// (the first field) follows the simpler rule the system uses for it: a
// quote opens it up to the next quote, else it ends at a blank or tab.
//
// Header-only and portable (no windows.h, no allocation, no C++ runtime),
// so the same code is tested natively. Any thread.
#pragma once

namespace replacer {

inline bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The line after the program's own name and the blanks behind it.
inline const wchar_t* SkipProgramName(const wchar_t* line)
{
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"')
            ++line;
        if (*line)
            ++line;
    } else {
        while (*line && !IsBlank(*line))
            ++line;
    }
    while (IsBlank(*line))
        ++line;
    return line;
}

// Reads the argument at `cursor` into `out` and moves `cursor` past it and
// the blanks behind it; false when no argument is left. `out` needs room
// for as many characters as the rest of the line holds, plus the
// terminator: an argument is never longer than its text.
inline bool NextArgument(const wchar_t*& cursor, wchar_t* out)
{
    const wchar_t* p = cursor;
    while (IsBlank(*p))
        ++p;
    if (!*p) {
        cursor = p;
        return false;
    }
    bool quoted = false;
    for (;;) {
        unsigned backslashes = 0;
        while (*p == L'\\') {
            ++p;
            ++backslashes;
        }
        bool literal = true;
        if (*p == L'"') {
            if (backslashes % 2 == 0) {
                if (quoted && p[1] == L'"')
                    ++p; // "" inside quotes: one literal quote
                else {
                    literal = false;
                    quoted = !quoted;
                }
            }
            backslashes /= 2;
        }
        while (backslashes--)
            *out++ = L'\\';
        if (!*p || (!quoted && IsBlank(*p)))
            break;
        if (literal)
            *out++ = *p;
        ++p;
    }
    *out = 0;
    while (IsBlank(*p))
        ++p;
    cursor = p;
    return true;
}

} // namespace replacer
