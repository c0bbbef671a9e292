// A component clock the test moves by hand.
#pragma once

#include "engine/source_clock.hpp"

#include <atomic>

namespace tg::test {

class manual_clock : public source_clock
{
public:
    // The component reads it on its network thread while the test moves it.
    time_point now() const override { return m_now.load(); }
    void advance(lt::time_duration d) { m_now.store(m_now.load() + d); }

private:
    std::atomic<time_point> m_now{lt::clock_type::now()};
};

} // namespace tg::test
