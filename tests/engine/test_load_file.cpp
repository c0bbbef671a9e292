// The capped whole-file loader, and what the engine makes of its results.
#include "engine/load_file.hpp"
#include "../support/temp_dir.hpp"

#include <libtorrent/torrent_info.hpp>

#include <gtest/gtest.h>

namespace tg {
namespace {

std::string narrow(std::filesystem::path const& p)
{
    return p.u8string();
}

TEST(LoadFile, ResultsAndBufferByFileSize)
{
    test::temp_dir dir("load");
    struct row
    {
        char const* name;
        std::int64_t size; // -1: no file
        int result;
        bool buffer_unchanged;
    } const rows[] = {
        {"empty", 0, 0, false},
        {"small", 1234, 0, false},
        {"at-cap", load_file_size_cap, 0, false},
        {"over-cap", load_file_size_cap + 1, -2, true},
        {"missing", -1, -1, true},
    };
    for (auto const& r : rows) {
        std::vector<char> content;
        if (r.size >= 0) {
            content.resize(std::size_t(r.size));
            for (std::size_t i = 0; i < content.size(); ++i) content[i] = char(i * 7 + 3);
            test::write_file(dir / r.name, content);
        }
        std::vector<char> v{'o', 'l', 'd'};
        EXPECT_EQ(load_file(narrow(dir / r.name), v), r.result) << r.name;
        if (r.buffer_unchanged)
            EXPECT_EQ(v, (std::vector<char>{'o', 'l', 'd'})) << r.name;
        else
            EXPECT_EQ(v, content) << r.name;
    }
}

TEST(LoadFile, NonAsciiFileNameIsUtf8)
{
    test::temp_dir dir("load");
    std::filesystem::path const p = dir.path() / std::filesystem::u8path("tr\xc3\xb2 ch\xc6\xa1i.torrent");
    test::write_file(p, {'d', 'e'});
    std::vector<char> v;
    EXPECT_EQ(load_file(p.u8string(), v), 0);
    EXPECT_EQ(v.size(), 2u);
}

#ifndef _WIN32
TEST(LoadFile, ReadThatFailsGivesMinusThreeWithTheSizedBuffer)
{
    // A folder opens for reading here but cannot be read.
    test::temp_dir dir("load");
    std::vector<char> v;
    int const r = load_file(narrow(dir.path()), v);
    if (r == 0) GTEST_SKIP() << "this file system reads folders";
    EXPECT_EQ(r, -3);
}
#endif

TEST(LoadFile, EngineParsesOnlyWhatLoaded)
{
    test::temp_dir dir("load");
    // A zero-byte .torrent loads as an empty buffer, which the engine refuses
    // without reading past it.
    test::write_file(dir / "zero.torrent", {});
    std::vector<char> v;
    ASSERT_EQ(load_file(narrow(dir / "zero.torrent"), v), 0);
    lt::error_code ec;
    lt::torrent_info ti(v, ec, lt::from_span);
    EXPECT_TRUE(ec);
    EXPECT_FALSE(ti.is_valid());
    // Bytes that do not decode.
    test::write_file(dir / "junk.torrent", {'x', 'y'});
    ASSERT_EQ(load_file(narrow(dir / "junk.torrent"), v), 0);
    lt::torrent_info junk(v, ec, lt::from_span);
    EXPECT_TRUE(ec);
}

} // namespace
} // namespace tg
