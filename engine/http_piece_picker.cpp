#include "engine/http_piece_picker.hpp"

#include <algorithm>
#include <cstring>

namespace tg {

void http_piece_picker::init(int num_pieces, int piece_length, int last_piece_size, int block_size)
{
    *this = http_piece_picker();
    m_num_pieces = num_pieces;
    m_piece_length = piece_length;
    m_last_piece_size = last_piece_size;
    m_block_size = block_size;
    m_have.assign(std::size_t(num_pieces), false);
    m_taken.assign(std::size_t(num_pieces), false);
    m_unwanted.assign(std::size_t(num_pieces), false);
    m_buffers.reset(piece_length);
}

std::vector<int> http_piece_picker::refresh(lt::typed_bitfield<lt::piece_index_t> const& have,
    std::set<int> const& engine_queue, std::vector<lt::download_priority_t> const& priorities)
{
    std::vector<int> rejected;
    if (!ready()) return rejected;
    for (int i = 0; i < m_num_pieces; ++i) {
        if (i < have.size()) m_have[std::size_t(i)] = have.get_bit(lt::piece_index_t(i));
        m_unwanted[std::size_t(i)] =
            std::size_t(i) < priorities.size() && priorities[std::size_t(i)] == lt::dont_download;
    }
    m_engine_queue = engine_queue;
    for (auto it = m_delivered.begin(); it != m_delivered.end();) {
        int const p = it->first;
        if (m_have[std::size_t(p)]) {
            it = m_delivered.erase(it);
        } else if (m_engine_queue.count(p) != 0 && ++it->second < 15) {
            ++it; // still being written or checked
        } else if (m_engine_queue.count(p) != 0 || ++it->second >= 2) {
            // A piece that stays in the queue far longer than a write and a
            // hash take is fetched again too: the engine skips what it has.
            // Neither had nor in the engine's queue at two reads in a row:
            // the hash check failed and the engine dropped the piece.
            rejected.push_back(p);
            ++m_rejected;
            it = m_delivered.erase(it);
        } else {
            ++it;
        }
    }
    return rejected;
}

bool http_piece_picker::wanted(int p) const
{
    return !m_have[std::size_t(p)] && !m_taken[std::size_t(p)] && !m_unwanted[std::size_t(p)] && m_delivered.count(p) == 0;
}

int http_piece_picker::pick()
{
    int fallback = -1;
    for (int p = 0; p < m_num_pieces; ++p) {
        if (!wanted(p)) continue;
        if (m_engine_queue.count(p) == 0) {
            m_taken[std::size_t(p)] = true;
            return p;
        }
        if (fallback < 0) fallback = p;
    }
    if (fallback >= 0) m_taken[std::size_t(fallback)] = true;
    return fallback;
}

void http_piece_picker::release(int piece)
{
    m_buffers.give_back(release_taking_buffer(piece));
}

piece_buffer http_piece_picker::release_taking_buffer(int piece)
{
    piece_buffer b;
    if (piece < 0 || piece >= m_num_pieces) return b;
    m_taken[std::size_t(piece)] = false;
    auto it = m_assembling.find(piece);
    if (it == m_assembling.end()) return b;
    b = std::move(it->second.data);
    m_assembling.erase(it);
    return b;
}

bool http_piece_picker::is_block_start(int piece, int start) const
{
    return taken(piece) && start >= 0 && start % m_block_size == 0 && start < piece_size(piece);
}

http_piece_picker::assembly& http_piece_picker::assembly_of(int piece)
{
    assembly& a = m_assembling[piece];
    if (!a.data) {
        int const size = piece_size(piece);
        a.data = m_buffers.take();
        a.blocks.assign(std::size_t((size + m_block_size - 1) / m_block_size), false);
    }
    return a;
}

char* http_piece_picker::block_destination(int piece, int start)
{
    if (!is_block_start(piece, start)) return nullptr;
    return assembly_of(piece).data.data() + start;
}

bool http_piece_picker::block_received(int piece, int start, char const* data, int length, piece_buffer& piece_data)
{
    if (!is_block_start(piece, start) || length <= 0 || start + length > piece_size(piece)) return false;
    assembly& a = assembly_of(piece);
    std::size_t const b = std::size_t(start / m_block_size);
    char* const at = a.data.data() + start;
    if (data != at) std::memmove(at, data, std::size_t(length));
    if (!a.blocks[b]) {
        a.blocks[b] = true;
        ++a.received;
    }
    if (a.received != int(a.blocks.size())) return false;
    piece_data = std::move(a.data);
    m_assembling.erase(piece);
    m_taken[std::size_t(piece)] = false;
    m_delivered[piece] = 0;
    return true;
}

} // namespace tg
