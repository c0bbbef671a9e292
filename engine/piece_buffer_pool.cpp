#include "engine/piece_buffer_pool.hpp"

#include <utility>

namespace tg {

void piece_buffer_pool::reset(int size)
{
    m_size = size;
    m_free.clear();
}

piece_buffer piece_buffer_pool::take()
{
    if (!m_free.empty()) {
        piece_buffer b = std::move(m_free.back());
        m_free.pop_back();
        return b;
    }
    piece_buffer b;
    // Default-initialised chars: no zero-fill, the pages are touched only
    // when the body's bytes land in them.
    b.bytes.reset(new char[std::size_t(m_size)]);
    b.capacity = m_size;
    return b;
}

void piece_buffer_pool::give_back(piece_buffer b)
{
    if (!b || b.capacity != m_size || m_free.size() >= m_spare) return;
    m_free.push_back(std::move(b));
}

void piece_buffer_pool::set_spare(std::size_t spare)
{
    m_spare = spare;
    if (m_free.size() > m_spare) m_free.resize(m_spare);
}

} // namespace tg
