// A component clock the test moves by hand.
#pragma once

#include "engine/source_clock.hpp"

namespace tg::test {

class manual_clock : public source_clock
{
public:
    time_point now() const override { return m_now; }
    void advance(lt::time_duration d) { m_now += d; }

private:
    time_point m_now = lt::clock_type::now();
};

} // namespace tg::test
