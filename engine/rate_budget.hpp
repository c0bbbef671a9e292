// The share of a download rate limit that a torrent's Direct-HTTP sources
// may use: the limit is one budget for the peers and the sources together,
// as when the file server's connections were peers under the engine's own
// limiter. The engine limits its peers; the sources take what the peers left
// in the last second, and a tenth of the limit at the least, so that their
// connections keep moving while peers fill the line. Plain data; used under
// the component's lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tg {

class rate_budget
{
public:
    // How often the budget is topped up, and what it may hold at most: the
    // sources read in slices of this time, never a second's worth at once.
    static constexpr std::chrono::milliseconds slice{100};
    static constexpr int slices_held = 2;

    // `limit`: bytes a second for peers and sources together, 0 or less for
    // none; `peers_rate`: what the peers received in the last second.
    void set_limit(std::int64_t limit, std::int64_t peers_rate);
    bool limited() const { return m_allowance > 0; }
    // Bytes a second the sources may take now; 0 when not limited.
    std::int64_t allowance() const { return m_allowance; }

    // Adds one slice's worth (up to what it may hold).
    void top_up();
    // How much of `want` bytes a read may take now; 0 when the sources must
    // wait for the next top-up. `want` itself when not limited.
    std::size_t grant(std::size_t want) const;
    // A read took `n` bytes.
    void spend(std::size_t n);

private:
    std::int64_t m_allowance = 0;
    std::int64_t m_available = 0;
};

} // namespace tg
