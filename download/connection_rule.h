// The one-minute HTTP-connection rule: every 60 s the bytes received in the
// last minute are compared with two thresholds in KB/s (one unit counts
// 61,440 bytes a minute). Portable; called on the worker thread.
#pragma once

#include <cstdint>

namespace tollgrove {

constexpr std::uint32_t kRuleIntervalMs = 60000;
constexpr std::int64_t kBytesPerKbMinute = 60 * 1024;

enum class RuleVerdict {
    slow,   // below the lower threshold: one more source while under the limit
    fast,   // above the upper threshold: retire one while more than one run
    steady, // in between (equal values included): nothing changes
};

// True when the rule is due; the tick difference is unsigned, so the 49.7-day
// wrap of the tick counter does not disturb it.
bool RuleDue(std::uint32_t nowTick, std::uint32_t lastRunTick, std::uint32_t intervalMs = kRuleIntervalMs);

// Compares one minute's bytes with the thresholds (64-bit products, strict).
RuleVerdict ClassifyMinute(std::int64_t minuteBytes, std::int32_t minSpeedKb, std::int32_t maxSpeedKb);

} // namespace tollgrove
