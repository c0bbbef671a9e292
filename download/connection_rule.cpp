#include "connection_rule.h"

namespace tollgrove {

bool RuleDue(std::uint32_t nowTick, std::uint32_t lastRunTick, std::uint32_t intervalMs)
{
    return static_cast<std::uint32_t>(nowTick - lastRunTick) >= intervalMs;
}

RuleVerdict ClassifyMinute(std::int64_t minuteBytes, std::int32_t minSpeedKb, std::int32_t maxSpeedKb)
{
    if (minuteBytes < std::int64_t(minSpeedKb) * kBytesPerKbMinute)
        return RuleVerdict::slow;
    if (minuteBytes > std::int64_t(maxSpeedKb) * kBytesPerKbMinute)
        return RuleVerdict::fast;
    return RuleVerdict::steady;
}

} // namespace tollgrove
