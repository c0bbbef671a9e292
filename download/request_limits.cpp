#include "request_limits.h"

#include <algorithm>

using std::chrono::milliseconds;

milliseconds RequestClock::Now() const
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

RequestWatch::RequestWatch(const RequestLimits& limits, milliseconds now)
    : m_limits(limits), m_start(now), m_slots(static_cast<size_t>(kSlotsPerWindow + 1), 0)
{
    // Rounded up, so that the slots summed always reach back over the whole
    // window.
    m_slotLength =
        std::max(milliseconds(1), (m_limits.floorWindow + milliseconds(kSlotsPerWindow - 1)) / kSlotsPerWindow);
}

void RequestWatch::HeadArrived(milliseconds now)
{
    m_headIn = true;
    m_bodyStart = now;
    m_lastProgress = now;
}

bool RequestWatch::BodyArrived(uint64_t count, milliseconds now)
{
    if (count > m_limits.sizeCap - std::min(m_bodyBytes, m_limits.sizeCap))
        return false;
    m_bodyBytes += count;
    if (count == 0)
        return true;
    m_lastProgress = now;
    Slot(SlotOf(now)) += count;
    return true;
}

bool RequestWatch::Expired(milliseconds now) const
{
    if (!m_headIn)
        return now - m_start >= m_limits.headTimeout;
    return now - m_lastProgress >= m_limits.stallTime || UnderFloor(now);
}

int64_t RequestWatch::SlotOf(milliseconds now) const
{
    // A clock that stepped back counts as the body's start.
    return std::max<int64_t>(0, (now - m_bodyStart) / m_slotLength);
}

uint64_t& RequestWatch::Slot(int64_t slot)
{
    const int64_t ring = static_cast<int64_t>(m_slots.size());
    // Slots the ring passed since its newest one saw no byte: cleared before
    // they are reused.
    for (int64_t s = std::max(m_newestSlot + 1, slot - ring + 1); s <= slot; ++s)
        m_slots[static_cast<size_t>(s % ring)] = 0;
    m_newestSlot = std::max(m_newestSlot, slot);
    return m_slots[static_cast<size_t>(slot % ring)];
}

bool RequestWatch::UnderFloor(milliseconds now) const
{
    if (m_limits.floorBytes == 0 || m_limits.floorWindow <= milliseconds(0))
        return false;
    if (now - m_bodyStart < m_limits.floorWindow)
        return false; // no whole window yet
    // The window (now - floorWindow, now] lies within the slots from
    // SlotOf(now) - kSlotsPerWindow to SlotOf(now); slots after the ring's
    // newest saw no byte, and those before it that the ring no longer holds
    // are older than the window.
    const int64_t ring = static_cast<int64_t>(m_slots.size());
    const int64_t last = std::min(SlotOf(now), m_newestSlot);
    const int64_t first = std::max(SlotOf(now) - kSlotsPerWindow, m_newestSlot - ring + 1);
    uint64_t bytes = 0;
    for (int64_t s = std::max<int64_t>(0, first); s <= last; ++s)
        bytes += m_slots[static_cast<size_t>(s % ring)];
    return bytes < m_limits.floorBytes;
}
