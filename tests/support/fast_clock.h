// A request clock that runs `scale` times faster than the real one, so that
// the program's own limits (a 30 s stall, a 60 s window) play out in a few
// seconds against a real server whose timings the test divides by the same
// scale. Portable; any thread.
#pragma once
#include <chrono>

#include "request_limits.h"

class FastClock : public RequestClock
{
public:
    explicit FastClock(int scale) : m_scale(scale), m_origin(RequestClock::Now()) {}

    std::chrono::milliseconds Now() const override { return m_origin + (RequestClock::Now() - m_origin) * m_scale; }

    // A time on this clock as seconds of real time.
    double RealSeconds(std::chrono::milliseconds onThisClock) const
    {
        return static_cast<double>(onThisClock.count()) / 1000.0 / m_scale;
    }

private:
    int m_scale;
    std::chrono::milliseconds m_origin;
};
