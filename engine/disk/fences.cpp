#include "engine/disk/fences.hpp"

namespace tg {

bool hold_back(fence_state& f, std::unique_ptr<disk_job>& j)
{
    if (!f.active && f.blocked.empty() && !(j->is_fence() && f.in_flight > 0))
        return false;
    f.blocked.push_back(std::move(j));
    return true;
}

void started(fence_state& f, bool fence)
{
    ++f.in_flight;
    if (fence)
        f.active = true;
}

void finished(fence_state& f, bool fence)
{
    --f.in_flight;
    if (fence)
        f.active = false;
}

std::unique_ptr<disk_job> next_released(fence_state& f)
{
    if (f.blocked.empty() || f.active || (f.blocked.front()->is_fence() && f.in_flight > 0))
        return nullptr;
    auto j = std::move(f.blocked.front());
    f.blocked.pop_front();
    return j;
}

} // namespace tg
