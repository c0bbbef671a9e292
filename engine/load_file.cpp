#include "engine/load_file.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include <sys/stat.h>

namespace tg {

namespace {

struct file_closer
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

file_ptr open_for_reading(std::string const& filename)
{
#ifdef _WIN32
    // The engine's narrow paths are UTF-8; a name that does not convert
    // cannot name a file.
    std::wstring wide;
    try {
        wide = std::filesystem::u8path(filename).wstring();
    } catch (std::exception const&) {
        return nullptr;
    }
    return file_ptr(_wfopen(wide.c_str(), L"rb"));
#else
    return file_ptr(std::fopen(filename.c_str(), "rb"));
#endif
}

bool file_size(std::FILE* f, std::int64_t& size)
{
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0) return false;
#else
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return false;
#endif
    size = std::int64_t(st.st_size);
    return size >= 0;
}

} // namespace

int load_file(std::string const& filename, std::vector<char>& v)
{
    file_ptr f = open_for_reading(filename);
    if (!f) return -1;
    std::int64_t size = 0;
    if (!file_size(f.get(), size)) return -1;
    if (size > load_file_size_cap) return -2;
    v.resize(std::size_t(size));
    if (size == 0) return 0;
    std::size_t const got = std::fread(v.data(), 1, v.size(), f.get());
    if (got != v.size() || std::ferror(f.get())) return -3;
    return 0;
}

} // namespace tg
