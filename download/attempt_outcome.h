// What an attempt reports and writes back once its download has ended:
// 32-bit wrapping totals by result. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "download_error.h"

namespace tollgrove {

// Whole seconds between two readings of the millisecond tick count, which
// wraps every 49.7 days: the difference is taken before the division, so
// an attempt across the wrap counts its own time. 1 when under a second.
std::uint32_t ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick);

struct AttemptTotals {
    std::uint32_t seconds;      // tt of the outcome report
    std::uint32_t bytes;        // ts of the outcome report
    bool writeBack;             // write the totals into the configuration file
    std::uint32_t totalSeconds; // cumulative, wrapping
    std::uint32_t totalBytes;   // cumulative, wrapping (kept as m_nBytesDownloaded)
};

// The totals for `result`; nothing for a result that sends no report. A
// stopped attempt reports its own time and bytes and writes the sums back;
// the others report the sums.
std::optional<AttemptTotals> PlanTotals(int result, std::uint32_t elapsedSec, std::uint32_t sessionBytes,
    std::int32_t totalTimeDL, std::int32_t totalSizeDL);

} // namespace tollgrove
