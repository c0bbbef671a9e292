// The engine's disk I/O, our own: files kept open in a bounded set and read
// and written at explicit offsets, a small pool of disk threads (never the
// network thread) with completions handed back in batches, a bounded store
// buffer for blocks on their way to disk, and every failed write, flush or
// close reported whole as a storage error.
//
// Every session the program, the tests and the benchmarks create takes it:
//   lt::session_params p(settings);
//   p.disk_io_constructor = tg::file_disk_io_constructor;
#pragma once

#include <functional>
#include <memory>

#include <boost/system/error_code.hpp>

#include <libtorrent/disk_interface.hpp>
#include <libtorrent/fwd.hpp>
#include <libtorrent/io_context.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/time.hpp>

namespace tg {

using error_code = boost::system::error_code;

// Builds the disk I/O for one session; `ios` is the session's network
// io_context, where every completion handler runs. Called by the session.
std::unique_ptr<lt::disk_interface> file_disk_io_constructor(
    lt::io_context& ios, lt::settings_interface const& settings, lt::counters& counters);

// Whether the torrent's files, released by the engine (it does so when the
// torrent finishes, when it is paused and when its resume data is saved
// with flush_disk_cache), were committed and closed: the first flush or
// close of them that failed since it was last reported, else the error of
// reading piece 0 back, else none. A failure also stops the torrent with it
// (error set, paused). The engine's handler of a release takes no error, so
// this asks through a read, which reports it. Waits up to `limit` for the
// engine's answer (timed_out without one: the files' state is unknown).
// Any thread but the engine's; pops the session's alerts and hands every
// other one to `other` (the caller's pump would otherwise never see it).
error_code release_failure(lt::session& session, lt::torrent_handle const& torrent, lt::time_duration limit,
    std::function<void(lt::alert const*)> const& other = {});

// The category of write-side failures (a write, flush, close, or the open or
// folder creation a write needs). It carries the system's error number and
// message but compares equal to no generic condition: the engine turns
// "no space", "read-only" and "permission denied" write failures into a
// silent upload mode, whereas this program must stop the torrent with the
// error so that the attempt ends as failed.
boost::system::error_category const& write_failure_category();

// Bounds of the store buffer (blocks accepted but not yet on disk).
// async_write asks its caller to wait above the high mark (the engine's
// max_queued_disk_bytes, at least store_buffer_floor) and calls the
// observers back below half of it; a caller that ignores the request is
// held on async_write once the buffer reaches hard_limit_factor times the
// high mark, so the memory stays bounded whatever the game's size.
constexpr int store_buffer_floor = 8 * 1024 * 1024;
constexpr int hard_limit_factor = 4;

} // namespace tg
