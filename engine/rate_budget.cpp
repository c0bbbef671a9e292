#include "engine/rate_budget.hpp"

#include <algorithm>

namespace tg {

void rate_budget::set_limit(std::int64_t limit, std::int64_t peers_rate)
{
    if (limit <= 0) {
        m_allowance = 0;
        m_available = 0;
        return;
    }
    m_allowance = std::max(limit - std::max<std::int64_t>(0, peers_rate), std::max<std::int64_t>(1, limit / 10));
    m_available = std::min(m_available, m_allowance * slice.count() * slices_held / 1000);
}

void rate_budget::top_up()
{
    if (!limited()) return;
    std::int64_t const per_slice = std::max<std::int64_t>(1, m_allowance * slice.count() / 1000);
    m_available = std::min(m_available + per_slice, per_slice * slices_held);
}

std::size_t rate_budget::grant(std::size_t want) const
{
    if (!limited()) return want;
    if (m_available <= 0) return 0;
    return std::size_t(std::min<std::int64_t>(std::int64_t(want), m_available));
}

void rate_budget::spend(std::size_t n)
{
    if (limited()) m_available -= std::int64_t(n);
}

} // namespace tg
