// The disk I/O's open files: a bounded set, least recently used out first,
// shared by the disk threads. A file is opened on first use and reopened on
// demand after it was closed; a file open for reading is reopened for
// writing when a write needs it.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <libtorrent/storage_defs.hpp>
#include <libtorrent/units.hpp>

#include "engine/disk/positional_file.hpp"

namespace tg {

class open_file_set
{
public:
    // A close that failed: the file it belonged to and why.
    struct close_failure
    {
        lt::storage_index_t storage;
        lt::file_index_t file;
        error_code ec;
    };

    explicit open_file_set(int limit);
    ~open_file_set();
    open_file_set(open_file_set const&) = delete;
    open_file_set& operator=(open_file_set const&) = delete;

    // The open file for (storage, file), opening `path` when it is not open
    // or open only for reading and `m` is read_write. A handle evicted while
    // a thread still uses it is closed when that thread lets go. Null with
    // `ec` when the open fails. Any thread.
    std::shared_ptr<positional_file> open(
        lt::storage_index_t storage, lt::file_index_t file, std::string const& path, positional_file::mode m, error_code& ec);

    // Closes every file of `storage` (of all storages for close_all). The
    // caller makes sure no disk job of that storage is running, so the
    // handles are closed here and their close failures recorded. With
    // `flush`, files open for writing are first committed to the device and
    // a failed flush is recorded like a failed close.
    void close_storage(lt::storage_index_t storage, bool flush = false);
    void close_all();
    // Closes one file (before a rename or a delete).
    void close_file(lt::storage_index_t storage, lt::file_index_t file);

    // Flush and close failures of `storage` since the last call, oldest first.
    std::vector<close_failure> take_close_failures(lt::storage_index_t storage);
    // The oldest of them, left in place; nullopt when there is none.
    std::optional<close_failure> first_close_failure(lt::storage_index_t storage) const;

    void set_limit(int limit);
    int size() const;
    // The open files of `storage`: file index and whether open for writing.
    std::vector<std::pair<lt::file_index_t, bool>> files_of(lt::storage_index_t storage) const;

private:
    struct entry
    {
        lt::storage_index_t storage;
        lt::file_index_t file;
        std::shared_ptr<positional_file> handle;
    };
    struct failure_sink;

    std::shared_ptr<positional_file> wrap(positional_file f, lt::storage_index_t storage, lt::file_index_t file);
    void trim(std::vector<std::shared_ptr<positional_file>>& out);

    mutable std::mutex m_mutex;
    // Front: most recently used.
    std::list<entry> m_files;
    int m_limit;
    std::shared_ptr<failure_sink> m_failures;
};

} // namespace tg
