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
    std::vector<lt::piece_index_t> refresh(lt::typed_bitfield<lt::piece_index_t> const& have,
        std::set<lt::piece_index_t> const& engine_queue, std::vector<lt::download_priority_t> const& priorities);

    // What pick and pick_duplicate return when there is nothing to take.
    static constexpr lt::piece_index_t no_piece{-1};

    // Pieces are held by owners (the connections, by number); the callers
    // that have one connection may leave it at 0.
    // The lowest piece the torrent lacks, that no source has taken, that the
    // engine neither holds nor is checking, and that no peer is fetching;
    // when only pieces peers are fetching remain, the lowest of those (the
    // engine skips the blocks peers finish). Takes it; no_piece when none.
    lt::piece_index_t pick(int owner = 0);
    // When pick has nothing left: the lowest piece one other owner holds,
    // taken as a second copy (each copy is assembled on its own; the first
    // whole one is delivered, the other is to be released). no_piece when
    // none.
    lt::piece_index_t pick_duplicate(int owner);
    // A taken piece is given back unfinished (its connection ended).
    void release(lt::piece_index_t piece, int owner = 0);
    // The same, but the piece's buffer goes to the caller instead of back
    // to the pool: a read of the ended connection may still be writing
    // into it (on Windows a read ends after its socket is closed).
    piece_buffer release_taking_buffer(lt::piece_index_t piece, int owner = 0);
    // As release_taking_buffer, but the whole blocks the copy holds are
    // kept (copied into a buffer of the picker's): the next owner that
    // picks the piece takes them over and fetches only the rest.
    piece_buffer release_keeping_blocks(lt::piece_index_t piece, int owner = 0);
    // The offset of the first block the copy `owner` holds lacks (0 for a
    // piece begun afresh): where its request starts.
    int first_missing_block(lt::piece_index_t piece, int owner = 0) const;

    // Where the block of a piece `owner` holds at `start` belongs in that
    // copy's buffer (the blocks after it follow): a connection may read the
    // body straight there. nullptr when the piece is not held by `owner` or
    // `start` is not a block of it.
    char* block_destination(lt::piece_index_t piece, int start, int owner = 0);
    // A block of a held piece arrived, copied into the copy's buffer unless
    // `data` already points there. When it completes the piece, the buffer
    // is moved into `piece_data` and true is returned: the caller hands its
    // bytes to the engine, then gives the buffer back with recycle; the
    // piece waits for its verdict.
    bool block_received(
        lt::piece_index_t piece, int start, char const* data, int length, piece_buffer& piece_data, int owner = 0);
    void recycle(piece_buffer b) { m_buffers.give_back(std::move(b)); }
    // How many free piece buffers are kept for reuse.
    void set_spare_buffers(std::size_t n) { m_buffers.set_spare(n); }
    std::size_t spare_buffers() const { return m_buffers.free_buffers(); }

    int piece_size(lt::piece_index_t piece) const
    {
        return int(piece) == m_num_pieces - 1 ? m_last_piece_size : m_piece_length;
    }
    bool taken(lt::piece_index_t piece) const { return in_range(piece) && m_holders[slot(piece)] > 0; }
    bool held_by(lt::piece_index_t piece, int owner) const { return m_holds.count({piece, owner}) != 0; }
    // The engine had the piece at the last refresh.
    bool has(lt::piece_index_t piece) const { return in_range(piece) && m_have[slot(piece)]; }
    bool waiting_for_verdict(lt::piece_index_t piece) const { return m_delivered.count(piece) != 0; }
    int rejected_pieces() const { return m_rejected; }

private:
    bool in_range(lt::piece_index_t piece) const { return int(piece) >= 0 && int(piece) < m_num_pieces; }
    // The piece's place in the vectors of one entry a piece.
    static std::size_t slot(lt::piece_index_t piece) { return std::size_t(int(piece)); }
    lt::piece_index_t end_piece() const { return lt::piece_index_t(m_num_pieces); }
    bool wanted(lt::piece_index_t piece) const;
    bool is_block_start(lt::piece_index_t piece, int start, int owner) const;
    void take(lt::piece_index_t piece, int owner);

    struct assembly
    {
        piece_buffer data;
        std::vector<bool> blocks;
        int received = 0;
    };
    // The copy's assembly, with a buffer from the pool once it is asked for.
    assembly& assembly_of(lt::piece_index_t piece, int owner);

    int m_num_pieces = 0;
    int m_piece_length = 0;
    int m_last_piece_size = 0;
    int m_block_size = 0;
    std::vector<bool> m_have;
    std::vector<int> m_holders; // owners holding each piece: 0, 1 or 2
    std::set<std::pair<lt::piece_index_t, int>> m_holds; // (piece, owner)
    std::vector<bool> m_unwanted;
    std::set<lt::piece_index_t> m_engine_queue;
    std::map<std::pair<lt::piece_index_t, int>, assembly> m_assembling; // by (piece, owner)
    // Whole blocks of pieces whose connection ended, until one picks them.
    std::map<lt::piece_index_t, assembly> m_parked;
    std::map<lt::piece_index_t, int> m_delivered; // piece -> refreshes without a verdict
    int m_rejected = 0;
    piece_buffer_pool m_buffers;
};

} // namespace tg
