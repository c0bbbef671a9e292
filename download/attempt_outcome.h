// What an attempt reports and writes back once its download has ended:
// 32-bit wrapping totals and the outcome table by result. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tollgrove {

enum WorkerResult : int {
    WR_COMPLETED = 3,
    WR_FAILED = 4,
    WR_STOPPED = 7,
    WR_EXCEPTION = 8,
    WR_TORRENT_FETCH_FAILED = 16,
};

enum ReportStatus : int {
    REPORT_FAILED = 1,
    REPORT_EXCEPTION = 2,
    REPORT_STOPPED = 3,
    REPORT_STARTED = 5,
    REPORT_COMPLETED = 6,
};

// Seconds between two whole-second tick readings; 1 when they are equal.
std::uint32_t ElapsedSeconds(std::uint32_t startSec, std::uint32_t endSec);

struct AttemptOutcome {
    std::wstring word;         // "OK", "FAILED", "EXCEPTION", "CANCEL"
    std::uint32_t seconds;     // tt of the outcome report
    std::uint32_t bytes;       // ts of the outcome report
    ReportStatus status;       // the status report that follows
    bool writeBack;            // write the totals into the configuration file
    std::uint32_t totalSeconds; // cumulative, wrapping
    std::uint32_t totalBytes;   // cumulative, wrapping (kept as m_nBytesDownloaded)
};

// The plan for `result`; nothing for a result that sends no report.
std::optional<AttemptOutcome> PlanOutcome(int result, std::uint32_t elapsedSec, std::uint32_t sessionBytes,
    std::int32_t totalTimeDL, std::int32_t totalSizeDL);

// "%d" of a 32-bit value: totals from 2^31 on are written negative.
std::wstring SignedDecimal(std::uint32_t value);

} // namespace tollgrove
