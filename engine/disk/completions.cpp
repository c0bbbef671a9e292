#include "engine/disk/completions.hpp"

#include <boost/asio/post.hpp>

namespace tg {

void completions::add(completion f)
{
    bool first;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        first = m_done.empty();
        m_done.push_back(std::move(f));
    }
    if (first)
        boost::asio::post(m_ios, [this] { run(); });
}

void completions::run()
{
    std::vector<completion> batch;
    {
        std::lock_guard<std::mutex> l(m_mutex);
        batch.swap(m_done);
    }
    for (auto& f : batch)
        f();
}

} // namespace tg
