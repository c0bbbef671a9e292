// A folder under the system's temporary folder (or a base given), removed
// at the end.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace tg::test {

class temp_dir
{
public:
    explicit temp_dir(char const* tag) : temp_dir(std::filesystem::temp_directory_path(), tag) {}
    temp_dir(std::filesystem::path const& base, std::string const& tag)
    {
        std::random_device rd;
        m_path = base / ("tg-" + tag + "-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~temp_dir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    temp_dir(temp_dir const&) = delete;
    temp_dir& operator=(temp_dir const&) = delete;

    std::filesystem::path const& path() const { return m_path; }
    std::filesystem::path operator/(std::string const& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

inline void write_file(std::filesystem::path const& p, std::vector<char> const& data)
{
    std::ofstream(p, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

inline std::vector<char> read_file(std::filesystem::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace tg::test
