// The whole percentage the progress sink shows. Portable: no windows.h;
// any thread.
#pragma once
#include <cstdint>
#include <string>

// done * 100.0 / total in double precision, both taken as unsigned 32-bit
// counts, truncated toward zero; total must not be 0.
int32_t ProgressPercent(uint32_t done, uint32_t total);

// "%d %%": 37 gives "37 %".
std::wstring PercentText(int32_t percent);
