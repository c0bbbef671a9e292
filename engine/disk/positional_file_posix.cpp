// POSIX side of positional_file: pread/pwrite on a plain descriptor.
#ifndef _WIN32

#include "engine/disk/positional_file.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tg {

namespace {

error_code last_error() { return error_code(errno, boost::system::system_category()); }

} // namespace

positional_file positional_file::open_native(std::string const& path, mode m, error_code& ec)
{
    // A file that is never written past its holes stays sparse by itself on
    // POSIX file systems.
    int const flags = (m == mode::read_write ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC;
    int fd;
    do
        fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    positional_file f;
    if (fd < 0) {
        ec = last_error();
        return f;
    }
    f.m_handle = fd;
    f.m_mode = m;
    return f;
}

bool positional_file::is_open() const { return m_handle >= 0; }

int positional_file::read_at(char* buf, int len, std::int64_t offset, error_code& ec)
{
    int done = 0;
    while (done < len) {
        ssize_t const r = ::pread(int(m_handle), buf + done, std::size_t(len - done), off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ec = last_error();
            return -1;
        }
        if (r == 0)
            break; // end of file
        done += int(r);
    }
    return done;
}

int positional_file::write_native_at(char const* buf, int len, std::int64_t offset, error_code& ec)
{
    int done = 0;
    while (done < len) {
        ssize_t const r = ::pwrite(int(m_handle), buf + done, std::size_t(len - done), off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ec = last_error();
            return done;
        }
        if (r == 0) {
            // pwrite of a non-zero length that writes nothing: the device
            // took no more, which is a full drive by another name.
            ec = error_code(ENOSPC, boost::system::system_category());
            return done;
        }
        done += int(r);
    }
    return done;
}

int positional_file::write_parts_at(std::vector<part> const& parts, std::int64_t offset, std::vector<char>&,
    error_code& ec)
{
    // Part by part: a system call is cheap here, and one large write holds
    // the file's lock long enough for the other disk threads to spin on it
    // (measured: more CPU in all than these writes).
    int done = 0;
    for (part const& p : parts) {
        int const put = write_at(p.data, p.size, offset + done, ec);
        done += put;
        if (put != p.size)
            break;
    }
    return done;
}

bool positional_file::flush(error_code& ec)
{
    if (::fsync(int(m_handle)) != 0) {
        ec = last_error();
        return false;
    }
    return true;
}

bool positional_file::close(error_code& ec)
{
    if (m_handle < 0)
        return true;
    int const fd = int(m_handle);
    m_handle = -1;
    // close() is not retried on EINTR: the descriptor is gone either way.
    if (::close(fd) != 0) {
        ec = last_error();
        return false;
    }
    return true;
}

std::int64_t file_size_at(std::string const& path, error_code& ec)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        ec = last_error();
        return -1;
    }
    return std::int64_t(st.st_size);
}

bool create_folders(std::string const& dir, error_code& ec)
{
    if (dir.empty())
        return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0)
        return true;
    std::string const parent = parent_folder(dir);
    if (!parent.empty() && parent != dir && !create_folders(parent, ec))
        return false;
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        ec = last_error();
        return false;
    }
    return true;
}

bool rename_path(std::string const& from, std::string const& to, error_code& ec)
{
    if (::rename(from.c_str(), to.c_str()) != 0) {
        ec = last_error();
        return false;
    }
    return true;
}

bool remove_path(std::string const& path, error_code& ec)
{
    if (::remove(path.c_str()) != 0 && errno != ENOENT) {
        ec = last_error();
        return false;
    }
    return true;
}

std::string parent_folder(std::string const& path)
{
    auto const sep = path.find_last_of('/');
    if (sep == std::string::npos)
        return {};
    if (sep == 0)
        return "/";
    return path.substr(0, sep);
}

} // namespace tg

#endif // _WIN32
