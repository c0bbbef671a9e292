#include "engine/disk/block_store.hpp"

#include <algorithm>

#include "engine/file_disk_io.hpp"

namespace tg {

char const* store_buffer::find(block_key k, int len) const
{
    auto const it = m_blocks.find(k);
    return it != m_blocks.end() && it->second.len >= len ? it->second.data : nullptr;
}

void store_buffer::written(block_key k, char const* data)
{
    auto const it = m_blocks.find(k);
    if (it != m_blocks.end() && it->second.data == data)
        m_blocks.erase(it);
}

block_store::~block_store()
{
    for (char* b : m_free)
        delete[] b;
}

void block_store::set_high_mark(int bytes) { m_high_mark = std::max(bytes, store_buffer_floor); }

char* block_store::take()
{
    if (!m_free.empty()) {
        char* b = m_free.back();
        m_free.pop_back();
        return b;
    }
    return new char[block_size];
}

void block_store::release(char* b)
{
    // Kept up to what the store can hold: freed and allocated again, blocks
    // cost a page fault per page each time, and the store is bounded anyway.
    if (m_free.size() < std::size_t(m_high_mark) * hard_limit_factor / block_size)
        m_free.push_back(b);
    else
        delete[] b;
}

void block_store::wait_for_room(std::unique_lock<std::mutex>& l, bool const& abort)
{
    m_room.wait(l, [&] { return m_bytes < m_high_mark * hard_limit_factor || abort; });
}

bool block_store::accepted(int len, std::shared_ptr<lt::disk_observer> o)
{
    m_bytes += len;
    bool const full = m_bytes >= m_high_mark;
    if (full) {
        m_exceeded = true;
        if (o)
            m_observers.push_back(std::move(o));
    }
    return full;
}

std::vector<std::shared_ptr<lt::disk_observer>> block_store::drained()
{
    std::vector<std::shared_ptr<lt::disk_observer>> out;
    if (m_exceeded && m_bytes < m_high_mark / 2) {
        m_exceeded = false;
        out.swap(m_observers);
    }
    return out;
}

} // namespace tg
