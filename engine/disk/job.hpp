// A disk job: what one call of the disk interface asks of the disk threads,
// one alternative per kind. Made on the network thread, owned by the queue
// (or by the fence or the piece it waits behind) and run by one disk
// thread; its completion runs back on the network thread. Plain data: who
// may touch it is the owner's rule.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include <libtorrent/disk_interface.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/sha1_hash.hpp>

namespace tg {

struct storage_state;

// What runs on the network thread once a job is over.
using completion = std::function<void()>;

// A block to write, held in the store buffer until it is on disk.
struct write_job
{
    lt::peer_request request;
    char* buffer = nullptr;
    lt::disk_job_flags_t flags;
    std::function<void(lt::storage_error const&)> handler;
};

// A hash of `piece`; it waits for the piece's pending writes.
struct hash_job
{
    lt::piece_index_t piece;
    // Set when it waited: the first of the piece's writes that failed, or
    // else the piece's hash made from its blocks (when whole).
    lt::storage_error prior;
    std::optional<lt::sha1_hash> from_blocks;
    std::function<completion(hash_job const&)> work;
};

// A read, or any other job with no ordering of its own.
struct read_job
{
    std::function<completion()> work;
};

// Waits for every earlier job of its storage and holds back every later
// one: it closes files or changes the layout under the others.
struct fence_job
{
    std::function<completion()> work;
};

struct disk_job
{
    std::shared_ptr<storage_state> storage;
    std::variant<write_job, hash_job, read_job, fence_job> what;

    bool is_fence() const { return std::holds_alternative<fence_job>(what); }
    write_job* write() { return std::get_if<write_job>(&what); }
    write_job const* write() const { return std::get_if<write_job>(&what); }
    hash_job* hash() { return std::get_if<hash_job>(&what); }
};

} // namespace tg
