// One torrent's files as the disk threads see them, and every operation on
// them: read, write, hash, check, rename, move and delete, each through the
// open file set.
//
// Threads and locks: none of its own. A disk thread calls it for a job of
// the torrent. The layout (`files()`, changed by a rename) and the save
// path (changed by a move) are set only by fence jobs, which run alone for
// their torrent, and the disk I/O sets them under its mutex; every other job
// reads them without the mutex, which is safe only because the fences keep
// it from running while they change. rename_file and move_storage thus only
// return what changed and leave setting it to the caller.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <libtorrent/disk_interface.hpp>
#include <libtorrent/download_priority.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/fwd.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/sha1_hash.hpp>
#include <libtorrent/span.hpp>
#include <libtorrent/storage_defs.hpp>

#include "engine/disk/open_file_set.hpp"
#include "engine/disk/positional_file.hpp"

namespace tg {

class torrent_files
{
public:
    // `p.files` is the torrent's own file list; it outlives this (the
    // torrent keeps it while any of its jobs is outstanding).
    torrent_files(lt::storage_params const& p, lt::storage_index_t index, open_file_set& open, lt::counters& counters);

    lt::file_storage const& files() const { return m_renamed ? *m_renamed : m_original; }
    std::string path_of(lt::file_index_t f) const { return files().file_path(f, m_save_path); }
    std::string const& save_path() const { return m_save_path; }
    lt::storage_index_t index() const { return m_index; }

    // By a fence, under the disk I/O's mutex (see above).
    void set_layout(std::unique_ptr<lt::file_storage> renamed);
    void set_save_path(std::string path);

    // The oldest flush or close of the torrent's files that failed and was not
    // reported by a write yet, into `e`, as a write failure: the engine then
    // stops the torrent with it. A write reports it once (`take`); every read
    // reports it until then, so that a torrent that finished (and writes no
    // more) learns that its files did not land, from each block it reads
    // rather than from the first only.
    void report_close_failure(lt::storage_error& e, bool take = true);

    // Writes `parts` (`len` bytes in all) at `offset` in `piece`, each
    // file's share with one call (`staging`: the calling thread's buffer
    // for joining them). Creates missing files and folders.
    bool write_blocks(lt::piece_index_t piece, int offset, std::vector<positional_file::part> const& parts, int len,
        lt::disk_job_flags_t flags, std::vector<char>& staging, lt::storage_error& e);
    bool read_block(lt::piece_index_t piece, int offset, char* buf, int len, lt::storage_error& e);
    // The piece's SHA-1 (with `v1`) and its blocks' SHA-256 into `v2`, read
    // back from disk.
    lt::sha1_hash hash_piece(lt::piece_index_t piece, bool v1, lt::span<lt::sha256_hash> v2, lt::storage_error& e);

    // The check when the torrent is added: empty files made, and the resume
    // data `rd` trusted only if every piece it claims is on disk whole.
    // `prio`: the file priorities (a file not wanted is not made).
    lt::status_t check_files(lt::add_torrent_params const* rd, bool no_recheck,
        std::vector<lt::download_priority_t> const& prio, lt::storage_error& e);
    // Renames file `index` on disk; the new layout, for set_layout, or null
    // when nothing changed (an index out of range, or a failure in `e`).
    std::unique_ptr<lt::file_storage> rename_file(lt::file_index_t index, std::string const& name, lt::storage_error& e);
    void delete_files(lt::storage_error& e);
    // Moves the files under `to`; on no_error the caller sets the save path.
    lt::status_t move_storage(std::string const& to, lt::move_flags_t flags, lt::storage_error& e);

private:
    std::shared_ptr<positional_file> open_for_write(lt::file_index_t f, lt::storage_error& e);

    lt::file_storage const& m_original;
    std::unique_ptr<lt::file_storage> m_renamed;
    std::string m_save_path;
    lt::storage_index_t const m_index;
    open_file_set& m_open;
    lt::counters& m_counters;
};

} // namespace tg
