#include "attempt_outcome.h"

namespace tollgrove {

std::uint32_t ElapsedSeconds(std::uint32_t startSec, std::uint32_t endSec)
{
    const std::uint32_t d = endSec - startSec;
    return d == 0 ? 1 : d;
}

std::optional<AttemptOutcome> PlanOutcome(int result, std::uint32_t elapsedSec, std::uint32_t sessionBytes,
    std::int32_t totalTimeDL, std::int32_t totalSizeDL)
{
    const std::uint32_t totalSeconds = elapsedSec + static_cast<std::uint32_t>(totalTimeDL);
    const std::uint32_t totalBytes = static_cast<std::uint32_t>(totalSizeDL) + sessionBytes;
    switch (result) {
    case WR_COMPLETED:
        return AttemptOutcome{L"OK", totalSeconds, totalBytes, REPORT_COMPLETED, false, totalSeconds, totalBytes};
    case WR_FAILED:
        return AttemptOutcome{L"FAILED", totalSeconds, totalBytes, REPORT_FAILED, false, totalSeconds, totalBytes};
    case WR_EXCEPTION:
        return AttemptOutcome{
            L"EXCEPTION", totalSeconds, totalBytes, REPORT_EXCEPTION, false, totalSeconds, totalBytes};
    case WR_STOPPED:
        return AttemptOutcome{L"CANCEL", elapsedSec, sessionBytes, REPORT_STOPPED, true, totalSeconds, totalBytes};
    default:
        return std::nullopt;
    }
}

std::wstring SignedDecimal(std::uint32_t value)
{
    return std::to_wstring(static_cast<std::int32_t>(value));
}

} // namespace tollgrove
