// The clock the Direct-HTTP component measures its sources by.
#pragma once

#include <libtorrent/time.hpp>

namespace tg {

using time_point = lt::time_point;

// Real time by default; tests substitute a clock they move by hand, so the
// rate rules can be checked without waiting. Any thread; never blocks.
class source_clock
{
public:
    virtual ~source_clock() = default;
    virtual time_point now() const { return lt::clock_type::now(); }
};

} // namespace tg
