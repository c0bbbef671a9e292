#include "progress_percent.h"

int32_t ProgressPercent(uint32_t done, uint32_t total)
{
    // done far above total (up to 100 * (2^32 - 1)) would overflow the int
    // conversion: such a percentage is held at the largest int.
    const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(total);
    if (percent >= 2147483647.0)
        return 2147483647;
    return static_cast<int32_t>(percent);
}

std::wstring PercentText(int32_t percent)
{
    return std::to_wstring(percent) + L" %";
}
