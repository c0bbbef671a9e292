// A drive of our own for the failure cases, in every build: a folder whose
// files take so many bytes in all and then fail their writes with the
// system's "no space" error, or that turns read-only, so that opening its
// files for writing fails with the system's "read-only" error. It stands in
// front of the disk I/O's files (file_faults) while it lives.
#pragma once

#include "engine/disk/positional_file.hpp"
#include "../support/temp_dir.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winerror.h>
#else
#include <cerrno>
#endif

namespace tg::test {

#ifdef _WIN32
inline constexpr int no_space_error = ERROR_DISK_FULL;
inline constexpr int read_only_error = ERROR_WRITE_PROTECT;
#else
inline constexpr int no_space_error = ENOSPC;
inline constexpr int read_only_error = EROFS;
#endif

class small_drive : public file_faults
{
public:
    explicit small_drive(std::int64_t room) : m_room(room) { set_file_faults(this); }
    ~small_drive() override { set_file_faults(nullptr); }
    small_drive(small_drive const&) = delete;
    small_drive& operator=(small_drive const&) = delete;

    std::filesystem::path const& path() const { return m_dir.path(); }
    void make_read_only() { m_read_only = true; }

    bool covers(std::string const& path) const override
    {
        // The disk I/O may name a file in the "\\?\" form, with either separator.
        std::string p = path.rfind(R"(\\?\)", 0) == 0 ? path.substr(4) : path;
        std::string root = m_root;
        std::replace(p.begin(), p.end(), '\\', '/');
        std::replace(root.begin(), root.end(), '\\', '/');
        return p.size() > root.size() && p.compare(0, root.size(), root) == 0 && p[root.size()] == '/';
    }
    error_code open_error(positional_file::mode m) override
    {
        if (m == positional_file::mode::read_write && m_read_only)
            return error_code(read_only_error, boost::system::system_category());
        return {};
    }
    int take(int len, error_code& ec) override
    {
        std::int64_t left = m_room.load();
        std::int64_t got;
        do
            got = std::min<std::int64_t>(left, len);
        while (!m_room.compare_exchange_weak(left, left - got));
        if (got < len)
            ec = error_code(no_space_error, boost::system::system_category());
        return int(got);
    }

private:
    temp_dir m_dir{"drive"};
    std::string const m_root = m_dir.path().u8string();
    std::atomic<std::int64_t> m_room;
    std::atomic<bool> m_read_only{false};
};

} // namespace tg::test
