// One torrent's files and what the disk I/O keeps for them, and which lock
// guards each part (the lock order is in file_disk_io.cpp).
#pragma once

#include <libtorrent/aux_/vector.hpp>
#include <libtorrent/disk_interface.hpp>
#include <libtorrent/download_priority.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/units.hpp>

#include "engine/disk/block_store.hpp"
#include "engine/disk/fences.hpp"
#include "engine/disk/open_file_set.hpp"
#include "engine/disk/piece_writer.hpp"
#include "engine/disk/torrent_files.hpp"

namespace tg {

struct storage_state
{
    storage_state(lt::storage_params const& p, lt::storage_index_t index, open_file_set& open, lt::counters& counters)
        : files(p, index, open, counters), priorities(p.priorities)
    {
    }

    // Used by the torrent's jobs on the disk threads without the mutex.
    // Its layout and save path are written by fences under the mutex and
    // read without it: safe only because a fence runs alone for its
    // torrent (torrent_files.hpp).
    torrent_files files;

    // Guarded by the disk I/O's mutex from here on.
    // Set by the network thread, copied by the check (a fence).
    lt::aux::vector<lt::download_priority_t, lt::file_index_t> priorities;
    // Its jobs in flight (those parked below included) and those that
    // came behind a fence.
    fence_state fences;
    // Blocks accepted by async_write and not yet written.
    store_buffer store;
    // Its pieces being written; a piece's hash is extended without the
    // mutex by the one thread its `hashing` mark names (piece_writer.hpp).
    torrent_writes writes;
};

} // namespace tg
