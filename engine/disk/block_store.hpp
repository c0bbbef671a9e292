// The blocks on their way to disk: their memory, each torrent's blocks
// accepted and not yet written (so that a read finds them), and the
// back-pressure on the writers.
//
// Back-pressure: a write above the high mark (the engine's
// max_queued_disk_bytes, at least store_buffer_floor) asks its caller to
// wait and keeps the caller's observer; the observers are called back once
// the store is below half the mark. A caller that ignores the request is
// held in wait_for_room from hard_limit_factor times the mark on.
//
// Threads: every member is used under the disk I/O's mutex (wait_for_room
// waits on it). The bytes of a block are written by the thread that
// accepted it before it is put here and only read afterwards.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <libtorrent/disk_interface.hpp>
#include <libtorrent/disk_observer.hpp>
#include <libtorrent/units.hpp>

namespace tg {

constexpr int block_size = lt::default_block_size;

// A block of a torrent: its piece and its offset in the piece.
struct block_key
{
    lt::piece_index_t piece;
    int offset;
    bool operator==(block_key const& o) const { return piece == o.piece && offset == o.offset; }
};

struct block_key_hash
{
    std::size_t operator()(block_key const& k) const
    {
        return std::hash<int>()(static_cast<int>(k.piece)) * 31 + std::hash<int>()(k.offset);
    }
};

// One torrent's blocks accepted and not yet written; the newest copy of a
// block written twice.
class store_buffer
{
public:
    void put(block_key k, char const* data, int len) { m_blocks[k] = {data, len}; }
    // The block's bytes when it is held with at least `len` of them.
    char const* find(block_key k, int len) const;
    // Forgets the block once `data` (the copy just written) is on disk,
    // unless a newer copy took its place.
    void written(block_key k, char const* data);

private:
    struct held
    {
        char const* data;
        int len;
    };
    std::unordered_map<block_key, held, block_key_hash> m_blocks;
};

class block_store
{
public:
    block_store() = default;
    block_store(block_store const&) = delete;
    block_store& operator=(block_store const&) = delete;
    ~block_store();

    void set_high_mark(int bytes);

    // A block's memory (block_size bytes), reused when one is free.
    char* take();
    void release(char* b);

    // Holds the calling writer while the store is at its hard limit.
    void wait_for_room(std::unique_lock<std::mutex>& l, bool const& abort);
    // Lets the held writers look again (after writes, or on abort).
    void wake_writers() { m_room.notify_all(); }

    // `len` bytes accepted: true when the caller is asked to wait, and then
    // `o` (if any) is called back later.
    bool accepted(int len, std::shared_ptr<lt::disk_observer> o);
    void written(int len) { m_bytes -= len; }
    // The observers to call back now that the store drained below half the
    // mark; empty otherwise.
    std::vector<std::shared_ptr<lt::disk_observer>> drained();

private:
    std::condition_variable m_room;
    std::vector<char*> m_free;
    int m_bytes = 0;
    int m_high_mark = 0;
    bool m_exceeded = false;
    std::vector<std::shared_ptr<lt::disk_observer>> m_observers;
};

} // namespace tg
