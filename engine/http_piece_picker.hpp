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

    // The lowest piece the torrent lacks, that no source has taken, that the
    // engine neither holds nor is checking, and that no peer is fetching;
    // when only pieces peers are fetching remain, the lowest of those (the
    // engine skips the blocks peers finish). Takes it; -1 when none.
    int pick();
    // A taken piece is given back unfinished (its connection ended).
    void release(int piece);
    // The same, but the piece's buffer goes to the caller instead of back
    // to the pool: a read of the ended connection may still be writing
    // into it (on Windows a read ends after its socket is closed).
    piece_buffer release_taking_buffer(int piece);

    // Where the block of a taken piece at `start` belongs in its piece's
    // buffer (the blocks after it follow): a connection may read the body
    // straight there. nullptr when the piece is not taken or `start` is not
    // a block of it.
    char* block_destination(int piece, int start);
    // A block of a taken piece arrived, copied into the piece's buffer
    // unless `data` already points there. When it completes the piece, the
    // piece's buffer is moved into `piece_data` and true is returned: the
    // caller hands its bytes to the engine, then gives the buffer back with
    // recycle; the piece waits for its verdict.
    bool block_received(int piece, int start, char const* data, int length, piece_buffer& piece_data);
    void recycle(piece_buffer b) { m_buffers.give_back(std::move(b)); }
    // How many free piece buffers are kept for reuse.
    void set_spare_buffers(std::size_t n) { m_buffers.set_spare(n); }
    std::size_t spare_buffers() const { return m_buffers.free_buffers(); }

    int piece_size(int piece) const { return piece == m_num_pieces - 1 ? m_last_piece_size : m_piece_length; }
    bool taken(int piece) const { return piece >= 0 && piece < m_num_pieces && m_taken[std::size_t(piece)]; }
    bool waiting_for_verdict(int piece) const { return m_delivered.count(piece) != 0; }
    int rejected_pieces() const { return m_rejected; }

private:
    bool wanted(int piece) const;
    bool is_block_start(int piece, int start) const;

    struct assembly
    {
        piece_buffer data;
        std::vector<bool> blocks;
        int received = 0;
    };
    // The piece's assembly, with a buffer from the pool once it is asked for.
    assembly& assembly_of(int piece);

    int m_num_pieces = 0;
    int m_piece_length = 0;
    int m_last_piece_size = 0;
    int m_block_size = 0;
    std::vector<bool> m_have;
    std::vector<bool> m_taken;
    std::vector<bool> m_unwanted;
    std::set<int> m_engine_queue;
    std::map<int, assembly> m_assembling;
    std::map<int, int> m_delivered; // piece -> refreshes without a verdict
    int m_rejected = 0;
    piece_buffer_pool m_buffers;
};

} // namespace tg
