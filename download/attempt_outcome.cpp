#include "attempt_outcome.h"

namespace tollgrove {

std::uint32_t ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick)
{
    const std::uint32_t d = (endTick - startTick) / 1000;
    return d == 0 ? 1 : d;
}

std::optional<AttemptTotals> PlanTotals(int result, std::uint32_t elapsedSec, std::uint32_t sessionBytes,
    std::int32_t totalTimeDL, std::int32_t totalSizeDL)
{
    const std::uint32_t totalSeconds = elapsedSec + static_cast<std::uint32_t>(totalTimeDL);
    const std::uint32_t totalBytes = static_cast<std::uint32_t>(totalSizeDL) + sessionBytes;
    switch (result) {
    case WR_COMPLETED:
    case WR_FAILED:
    case WR_EXCEPTION:
        return AttemptTotals{totalSeconds, totalBytes, false, totalSeconds, totalBytes};
    case WR_STOPPED:
        return AttemptTotals{elapsedSec, sessionBytes, true, totalSeconds, totalBytes};
    default:
        return std::nullopt;
    }
}

} // namespace tollgrove
