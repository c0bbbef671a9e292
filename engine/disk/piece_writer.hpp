// A torrent's pieces on their way to disk: each piece's pending writes, the
// hashes parked until those writes landed, the first failure among them
// (kept for a hash asked for later), the piece's SHA-1 made from its blocks
// as they are written in order, and the one thread that writes the piece.
//
// Threads: every function but write_batch is called under the disk I/O's
// mutex. write_batch is called without it by the piece's writer, the one
// thread whose claim_writer returned true, and takes the mutex (passed in)
// for its short bookkeeping; between those, only that thread extends the
// piece's hash (`hashing`).
// Invariants: a piece's entry stays while it has writes pending (so that
// pointers to it stay valid without the mutex), while it keeps a partial
// hash, and while it keeps a failure; parked hashes are let go with its
// last pending write.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <libtorrent/error_code.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/sha1_hash.hpp>
#include <libtorrent/units.hpp>

#include "engine/disk/job.hpp"

namespace tg {

class torrent_files;

struct piece_writes
{
    int pending = 0;
    // A hash waits here until the piece's writes are on disk, so that a
    // piece is never reported good while its data could still fail to land.
    std::vector<std::unique_ptr<disk_job>> waiting;
    lt::storage_error failure;
    // SHA-1 of the piece's blocks written in order from its start, taken
    // from the block on its way to disk, so that a piece that comes in order
    // (the HTTP sources deliver whole pieces) needs no read-back to hash.
    // One thread at a time extends it (`hashing`); a block written out of
    // turn leaves it short, and a block written again spoils it.
    lt::hasher hasher;
    int hashed = 0;
    bool hashing = false;
    bool spoilt = false;
    std::vector<bool> seen;
    // A thread is writing this piece; writes for it that other threads take
    // from the queue wait here for that thread.
    bool writer_busy = false;
    std::vector<std::unique_ptr<disk_job>> deferred;
};

// One torrent's pieces being written.
struct torrent_writes
{
    std::map<lt::piece_index_t, piece_writes> pieces;
    // Whole-piece hashes made from the blocks, for a hash asked for after
    // the piece's writes are done; a few, newest last.
    std::deque<std::pair<lt::piece_index_t, lt::sha1_hash>> written_hashes;
};

// The block `r` is accepted for writing.
void write_accepted(torrent_writes& w, lt::peer_request const& r);

// What a hash of `h.piece` asked for now learns from the piece's writes
// when none is pending: their failure, or the hash made from its blocks.
void hash_asked(torrent_writes const& w, hash_job& h);

// Whether the hash `j` must wait for its piece's pending writes: then it is
// kept with the piece and `j` is left empty.
bool park_hash(torrent_writes& w, std::unique_ptr<disk_job>& j);

// The engine is done with `piece` (its hash ran): what is kept of it goes,
// unless writes for it are pending.
void clear_piece(torrent_writes& w, lt::piece_index_t piece);

// A write of `piece` (`piece_size` bytes) is over, failed with `e` or not.
// Returns the hashes parked for the piece that may run now, `prior` and
// `from_blocks` set, when it was the piece's last pending write.
std::vector<std::unique_ptr<disk_job>> write_finished(torrent_writes& w, lt::piece_index_t piece, int piece_size,
                                                      lt::storage_error const& e);

// The write `j` (taken from the queue) makes its thread the piece's writer,
// or, when another thread is writing the piece, waits for that thread (and
// `j` is left empty).
bool claim_writer(torrent_writes& w, std::unique_ptr<disk_job>& j);

// The writer of `piece` finished a batch: the writes handed to it meanwhile
// (it writes them next) or, when there are none, it is the writer no more.
std::vector<std::unique_ptr<disk_job>> next_for_writer(torrent_writes& w, lt::piece_index_t piece);

// Whether a thread is writing `piece` now.
bool writer_busy(torrent_writes const& w, lt::piece_index_t piece);

// Writes a batch of one piece's blocks in the order they came, by the
// piece's writer, without `mutex` held. Contiguous blocks go to each file in
// one call (`staging` joins them where the system has no gathering write):
// under Wine every write call costs a server round trip. Returns each
// block's error.
std::vector<lt::storage_error> write_batch(torrent_files& files, torrent_writes& w, std::mutex& mutex,
                                           std::vector<std::unique_ptr<disk_job>> const& batch,
                                           std::vector<char>& staging);

} // namespace tg
