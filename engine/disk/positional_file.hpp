// One open file read and written at explicit offsets, with no shared file
// position, so several disk threads can use the same handle at once; and the
// few path operations the disk I/O needs. Paths are the engine's narrow
// UTF-8 paths. The Win32 side lives in positional_file_win32.cpp, the POSIX
// side in positional_file_posix.cpp; this header names neither.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/system/error_code.hpp>

namespace tg {

using error_code = boost::system::error_code;

class file_faults;

class positional_file
{
public:
    enum class mode { read_only, read_write };

    positional_file() = default;
    positional_file(positional_file const&) = delete;
    positional_file& operator=(positional_file const&) = delete;
    positional_file(positional_file&& other) noexcept;
    positional_file& operator=(positional_file&& other) noexcept;
    // Closes without a word: call close() where a failure matters.
    ~positional_file();

    // Opens `path`. read_write creates a missing file (sparse where the file
    // system knows it) but never its folders. Others may read the file while
    // it is open (and write, so a second handle of ours never conflicts).
    static positional_file open(std::string const& path, mode m, error_code& ec);

    bool is_open() const;
    mode open_mode() const { return m_mode; }

    // Reads up to `len` bytes at `offset`; returns the count, which is less
    // than `len` only at the end of the file; -1 with `ec` on failure.
    int read_at(char* buf, int len, std::int64_t offset, error_code& ec);
    // Writes all `len` bytes at `offset`; returns the count written, which is
    // less than `len` only on failure (`ec` says why).
    int write_at(char const* buf, int len, std::int64_t offset, error_code& ec);
    // Writes the parts one after another from `offset`. On Windows they are
    // joined in `staging` and written with one call: every call costs there
    // (under Wine a server round trip). Returns and fails as write_at.
    struct part
    {
        char const* data;
        int size;
    };
    int write_parts_at(std::vector<part> const& parts, std::int64_t offset, std::vector<char>& staging,
        error_code& ec);
    // Commits written data to the device.
    bool flush(error_code& ec);
    // Closes the handle and reports what the close said (a deferred write
    // error on some file systems). The handle is gone either way.
    bool close(error_code& ec);

private:
    // The system's own open and write; open() and write_at() put a test's
    // drive (file_faults) in front of them.
    static positional_file open_native(std::string const& path, mode m, error_code& ec);
    int write_native_at(char const* buf, int len, std::int64_t offset, error_code& ec);

    std::intptr_t m_handle = -1;
    mode m_mode = mode::read_only;
    file_faults* m_faults = nullptr;
};

// For tests: a stand-in for the drive under some files, so that a full or a
// read-only drive is met in every build (under Wine no test can make one,
// natively only root can mount one). Its calls come from any disk thread at
// once. Installed with set_file_faults while no file is open; the files it
// covers keep it until they close.
class file_faults
{
public:
    virtual ~file_faults() = default;
    // Whether the file at `path` (as the disk I/O names it) is on this drive.
    virtual bool covers(std::string const& path) const = 0;
    // The error opening such a file in mode `m` meets; none to open it.
    virtual error_code open_error(positional_file::mode m) = 0;
    // How many of `len` bytes the drive takes now; fewer with `ec` set.
    virtual int take(int len, error_code& ec) = 0;
};

// Puts `faults` in front of files opened from now on; nullptr for none.
void set_file_faults(file_faults* faults);

// The file's size; -1 with `ec` when it cannot be read (no such file: `ec`
// is no_such_file_or_directory).
std::int64_t file_size_at(std::string const& path, error_code& ec);

// Creates `dir` and its missing parents; an existing folder is no error.
bool create_folders(std::string const& dir, error_code& ec);

// Renames a file, replacing `to` if it exists.
bool rename_path(std::string const& from, std::string const& to, error_code& ec);

// Removes a file or an empty folder; a missing one is no error.
bool remove_path(std::string const& path, error_code& ec);

// The folder part of `path` (before its last separator), empty for a bare name.
std::string parent_folder(std::string const& path);

} // namespace tg
