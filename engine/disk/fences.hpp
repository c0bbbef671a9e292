// The fences of one torrent. A fence job (a move, rename, check, release or
// delete) waits for every earlier job of its torrent and holds back every
// later one, so that it changes the files' layout or closes them while no
// other job of the torrent runs.
//
// Threads: every member and function is used under the disk I/O's mutex.
// Invariants: `in_flight` counts the torrent's jobs queued, running, or
// parked behind their piece's writes, the fence among them; `active` is set
// from the fence's start to its end, and then it is the one job in flight;
// `blocked` keeps the jobs that came behind a fence in the order they came;
// while no fence runs, its front is a fence waiting for `in_flight` to
// reach zero.
#pragma once

#include <deque>
#include <memory>

#include "engine/disk/job.hpp"

namespace tg {

struct fence_state
{
    int in_flight = 0;
    bool active = false;
    std::deque<std::unique_ptr<disk_job>> blocked;
};

// Whether `j` must wait behind a fence: then it is kept in `blocked` and
// `j` is left empty.
bool hold_back(fence_state& f, std::unique_ptr<disk_job>& j);

// A job of the torrent goes to the queue or waits for its piece's writes:
// counted in flight, and the torrent fenced while it is a fence.
void started(fence_state& f, bool fence);

// A job of the torrent is over (`fence`: it was a fence).
void finished(fence_state& f, bool fence);

// The first blocked job free to go now, or none. The caller starts each
// before asking for the next, so that a fence let go holds back the rest.
std::unique_ptr<disk_job> next_released(fence_state& f);

} // namespace tg
