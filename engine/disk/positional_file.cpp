// What positional_file does alike on every system: ownership of the handle
// (-1 when none), which moves and is closed with the object; and a test's
// drive in front of the system's open and write.
#include "engine/disk/positional_file.hpp"

#include <atomic>

namespace tg {

namespace {

std::atomic<file_faults*> installed_faults{nullptr};

} // namespace

void set_file_faults(file_faults* faults) { installed_faults.store(faults); }

positional_file positional_file::open(std::string const& path, mode m, error_code& ec)
{
    file_faults* const faults = installed_faults.load();
    if (!faults || !faults->covers(path))
        return open_native(path, m, ec);
    if (error_code const refused = faults->open_error(m)) {
        ec = refused;
        return positional_file();
    }
    positional_file f = open_native(path, m, ec);
    if (f.is_open())
        f.m_faults = faults;
    return f;
}

int positional_file::write_at(char const* buf, int len, std::int64_t offset, error_code& ec)
{
    if (!m_faults)
        return write_native_at(buf, len, offset, ec);
    error_code full;
    int const room = m_faults->take(len, full);
    int const done = room > 0 ? write_native_at(buf, room, offset, ec) : 0;
    if (done == room && room < len)
        ec = full;
    return done;
}

positional_file::positional_file(positional_file&& other) noexcept
    : m_handle(other.m_handle), m_mode(other.m_mode), m_faults(other.m_faults)
{
    other.m_handle = -1;
    other.m_faults = nullptr;
}

positional_file& positional_file::operator=(positional_file&& other) noexcept
{
    if (this != &other) {
        error_code ignored;
        close(ignored);
        m_handle = other.m_handle;
        m_mode = other.m_mode;
        m_faults = other.m_faults;
        other.m_handle = -1;
        other.m_faults = nullptr;
    }
    return *this;
}

positional_file::~positional_file()
{
    error_code ignored;
    close(ignored);
}

} // namespace tg
