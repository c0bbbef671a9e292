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
    m_holders.assign(std::size_t(num_pieces), 0);
    m_unwanted.assign(std::size_t(num_pieces), false);
    m_buffers.reset(piece_length);
}

std::vector<lt::piece_index_t> http_piece_picker::refresh(lt::typed_bitfield<lt::piece_index_t> const& have,
    std::set<lt::piece_index_t> const& engine_queue, std::vector<lt::download_priority_t> const& priorities)
{
    std::vector<lt::piece_index_t> rejected;
    if (!ready()) return rejected;
    for (lt::piece_index_t p(0); p < end_piece(); ++p) {
        if (int(p) < have.size()) m_have[slot(p)] = have.get_bit(p);
        m_unwanted[slot(p)] = slot(p) < priorities.size() && priorities[slot(p)] == lt::dont_download;
    }
    m_engine_queue = engine_queue;
    for (auto it = m_parked.begin(); it != m_parked.end();) {
        if (m_have[slot(it->first)] || m_unwanted[slot(it->first)]) {
            m_buffers.give_back(std::move(it->second.data));
            it = m_parked.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_delivered.begin(); it != m_delivered.end();) {
        lt::piece_index_t const p = it->first;
        if (m_have[slot(p)]) {
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

bool http_piece_picker::wanted(lt::piece_index_t p) const
{
    return !m_have[slot(p)] && m_holders[slot(p)] == 0 && !m_unwanted[slot(p)] && m_delivered.count(p) == 0;
}

void http_piece_picker::take(lt::piece_index_t piece, int owner)
{
    if (m_holds.insert({piece, owner}).second) ++m_holders[slot(piece)];
    // The blocks an ended connection left go to the first that takes it.
    auto parked = m_parked.find(piece);
    if (parked == m_parked.end()) return;
    auto& a = m_assembling[{piece, owner}];
    if (!a.data)
        a = std::move(parked->second);
    else
        m_buffers.give_back(std::move(parked->second.data));
    m_parked.erase(parked);
}

lt::piece_index_t http_piece_picker::pick(int owner)
{
    lt::piece_index_t fallback = no_piece;
    for (lt::piece_index_t p(0); p < end_piece(); ++p) {
        if (!wanted(p)) continue;
        if (m_engine_queue.count(p) == 0) {
            take(p, owner);
            return p;
        }
        if (fallback == no_piece) fallback = p;
    }
    if (fallback != no_piece) take(fallback, owner);
    return fallback;
}

lt::piece_index_t http_piece_picker::pick_duplicate(int owner)
{
    for (lt::piece_index_t p(0); p < end_piece(); ++p) {
        std::size_t const i = slot(p);
        if (m_holders[i] != 1 || m_have[i] || m_unwanted[i] || m_delivered.count(p) != 0) continue;
        if (m_holds.count({p, owner}) != 0) continue;
        take(p, owner);
        return p;
    }
    return no_piece;
}

void http_piece_picker::release(lt::piece_index_t piece, int owner)
{
    m_buffers.give_back(release_taking_buffer(piece, owner));
}

piece_buffer http_piece_picker::release_taking_buffer(lt::piece_index_t piece, int owner)
{
    piece_buffer b;
    if (!in_range(piece)) return b;
    if (m_holds.erase({piece, owner}) != 0) --m_holders[slot(piece)];
    auto it = m_assembling.find({piece, owner});
    if (it == m_assembling.end()) return b;
    b = std::move(it->second.data);
    m_assembling.erase(it);
    return b;
}

piece_buffer http_piece_picker::release_keeping_blocks(lt::piece_index_t piece, int owner)
{
    auto it = m_assembling.find({piece, owner});
    if (it != m_assembling.end() && it->second.received > 0 && m_parked.count(piece) == 0) {
        // A copy: a read of the ended connection may still be writing into
        // the old buffer.
        assembly kept;
        kept.data = m_buffers.take();
        kept.blocks = it->second.blocks;
        kept.received = it->second.received;
        int const size = piece_size(piece);
        for (std::size_t b = 0; b < kept.blocks.size(); ++b) {
            if (!kept.blocks[b]) continue;
            std::size_t const at = b * std::size_t(m_block_size);
            std::memcpy(kept.data.data() + at, it->second.data.data() + at,
                std::min<std::size_t>(std::size_t(m_block_size), std::size_t(size) - at));
        }
        m_parked[piece] = std::move(kept);
    }
    return release_taking_buffer(piece, owner);
}

int http_piece_picker::first_missing_block(lt::piece_index_t piece, int owner) const
{
    auto it = m_assembling.find({piece, owner});
    if (it == m_assembling.end()) return 0;
    auto const& blocks = it->second.blocks;
    auto const missing = std::find(blocks.begin(), blocks.end(), false);
    return int(missing - blocks.begin()) * m_block_size;
}

bool http_piece_picker::is_block_start(lt::piece_index_t piece, int start, int owner) const
{
    return in_range(piece) && m_holds.count({piece, owner}) != 0 && start >= 0
        && start % m_block_size == 0 && start < piece_size(piece);
}

http_piece_picker::assembly& http_piece_picker::assembly_of(lt::piece_index_t piece, int owner)
{
    assembly& a = m_assembling[{piece, owner}];
    if (!a.data) {
        int const size = piece_size(piece);
        a.data = m_buffers.take();
        a.blocks.assign(std::size_t((size + m_block_size - 1) / m_block_size), false);
    }
    return a;
}

char* http_piece_picker::block_destination(lt::piece_index_t piece, int start, int owner)
{
    if (!is_block_start(piece, start, owner)) return nullptr;
    return assembly_of(piece, owner).data.data() + start;
}

bool http_piece_picker::block_received(
    lt::piece_index_t piece, int start, char const* data, int length, piece_buffer& piece_data, int owner)
{
    if (!is_block_start(piece, start, owner) || length <= 0 || start + length > piece_size(piece)) return false;
    assembly& a = assembly_of(piece, owner);
    std::size_t const b = std::size_t(start / m_block_size);
    char* const at = a.data.data() + start;
    if (data != at) std::memmove(at, data, std::size_t(length));
    if (!a.blocks[b]) {
        a.blocks[b] = true;
        ++a.received;
    }
    if (a.received != int(a.blocks.size())) return false;
    piece_data = std::move(a.data);
    m_assembling.erase({piece, owner});
    if (auto parked = m_parked.find(piece); parked != m_parked.end()) {
        m_buffers.give_back(std::move(parked->second.data));
        m_parked.erase(parked);
    }
    if (m_holds.erase({piece, owner}) != 0) --m_holders[slot(piece)];
    m_delivered[piece] = 0;
    return true;
}

} // namespace tg
