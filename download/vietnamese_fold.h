// Folding of Vietnamese letters to plain letters, for the default game
// folder name. Portable: no windows.h; any thread.
#pragma once
#include <string>

// The base letter of a precomposed Vietnamese letter (134 of them), else c.
char16_t BaseLetterOf(char16_t c);

// Same length as the input; only precomposed letters are folded, combining
// marks and other letters (Ç, Ñ, ß) stay.
std::wstring StripVietnameseMarks(const std::wstring& text);
