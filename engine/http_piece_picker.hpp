// Which pieces the Direct-HTTP connections of a torrent fetch, how their
// blocks become whole pieces, and what became of the pieces handed to the
// engine.
#pragma once

#include "engine/piece_buffer_pool.hpp"

#include <libtorrent/bitfield.hpp>
#include <libtorrent/download_priority.hpp>
#include <libtorrent/units.hpp>

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace tg {

// Threads: used under the component's lock only; never blocks.
class http_piece_picker
{
public:
    // Resets the picker for a torrent of `num_pieces` pieces.
    void init(int num_pieces, int piece_length, int last_piece_size, int block_size);
    bool ready() const { return m_num_pieces > 0; }

    // The engine's view, read once a second: the pieces it has, the pieces
    // in its download queue (peers are fetching them) and the priorities
    // (0: not wanted). Returns the pieces handed to the engine that it
    // neither has nor is still writing or checking: those it rejected. They
    // are free to be fetched again.
    std::vector<int> refresh(lt::typed_bitfield<lt::piece_index_t> const& have, std::set<int> const& engine_queue,
        std::vector<lt::download_priority_t> const& priorities);

    // Pieces are held by owners (the connections, by number); the callers
    // that have one connection may leave it at 0.
    // The lowest piece the torrent lacks, that no source has taken, that the
    // engine neither holds nor is checking, and that no peer is fetching;
    // when only pieces peers are fetching remain, the lowest of those (the
    // engine skips the blocks peers finish). Takes it; -1 when none.
    int pick(int owner = 0);
    // When pick has nothing left: the lowest piece one other owner holds,
    // taken as a second copy (each copy is assembled on its own; the first
    // whole one is delivered, the other is to be released). -1 when none.
    int pick_duplicate(int owner);
    // A taken piece is given back unfinished (its connection ended).
    void release(int piece, int owner = 0);
    // The same, but the piece's buffer goes to the caller instead of back
    // to the pool: a read of the ended connection may still be writing
    // into it (on Windows a read ends after its socket is closed).
    piece_buffer release_taking_buffer(int piece, int owner = 0);

    // Where the block of a piece `owner` holds at `start` belongs in that
    // copy's buffer (the blocks after it follow): a connection may read the
    // body straight there. nullptr when the piece is not held by `owner` or
    // `start` is not a block of it.
    char* block_destination(int piece, int start, int owner = 0);
    // A block of a held piece arrived, copied into the copy's buffer unless
    // `data` already points there. When it completes the piece, the buffer
    // is moved into `piece_data` and true is returned: the caller hands its
    // bytes to the engine, then gives the buffer back with recycle; the
    // piece waits for its verdict.
    bool block_received(int piece, int start, char const* data, int length, piece_buffer& piece_data, int owner = 0);
    void recycle(piece_buffer b) { m_buffers.give_back(std::move(b)); }
    // How many free piece buffers are kept for reuse.
    void set_spare_buffers(std::size_t n) { m_buffers.set_spare(n); }
    std::size_t spare_buffers() const { return m_buffers.free_buffers(); }

    int piece_size(int piece) const { return piece == m_num_pieces - 1 ? m_last_piece_size : m_piece_length; }
    bool taken(int piece) const { return piece >= 0 && piece < m_num_pieces && m_holders[std::size_t(piece)] > 0; }
    bool held_by(int piece, int owner) const { return m_holds.count({piece, owner}) != 0; }
    // The engine had the piece at the last refresh.
    bool has(int piece) const { return piece >= 0 && piece < m_num_pieces && m_have[std::size_t(piece)]; }
    bool waiting_for_verdict(int piece) const { return m_delivered.count(piece) != 0; }
    int rejected_pieces() const { return m_rejected; }

private:
    bool wanted(int piece) const;
    bool is_block_start(int piece, int start, int owner) const;
    void take(int piece, int owner);

    struct assembly
    {
        piece_buffer data;
        std::vector<bool> blocks;
        int received = 0;
    };
    // The copy's assembly, with a buffer from the pool once it is asked for.
    assembly& assembly_of(int piece, int owner);

    int m_num_pieces = 0;
    int m_piece_length = 0;
    int m_last_piece_size = 0;
    int m_block_size = 0;
    std::vector<bool> m_have;
    std::vector<int> m_holders; // owners holding each piece: 0, 1 or 2
    std::set<std::pair<int, int>> m_holds; // (piece, owner)
    std::vector<bool> m_unwanted;
    std::set<int> m_engine_queue;
    std::map<std::pair<int, int>, assembly> m_assembling; // by (piece, owner)
    std::map<int, int> m_delivered; // piece -> refreshes without a verdict
    int m_rejected = 0;
    piece_buffer_pool m_buffers;
};

} // namespace tg
