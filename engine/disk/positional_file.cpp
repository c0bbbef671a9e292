// What positional_file does alike on every system: ownership of the handle
// (-1 when none), which moves and is closed with the object.
#include "engine/disk/positional_file.hpp"

namespace tg {

positional_file::positional_file(positional_file&& other) noexcept
    : m_handle(other.m_handle), m_mode(other.m_mode)
{
    other.m_handle = -1;
}

positional_file& positional_file::operator=(positional_file&& other) noexcept
{
    if (this != &other) {
        error_code ignored;
        close(ignored);
        m_handle = other.m_handle;
        m_mode = other.m_mode;
        other.m_handle = -1;
    }
    return *this;
}

positional_file::~positional_file()
{
    error_code ignored;
    close(ignored);
}

} // namespace tg
