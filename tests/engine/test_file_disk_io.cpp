// The disk I/O on its own, driven through the engine's disk interface as the
// engine drives it: blocks written, pieces hashed, blocks read back and
// compared, over a table of file layouts; the same piece written, hashed and
// read at once; files released and reopened; and real failures (a read-only
// file system, a file system that fills).
#include "engine/extended_path.hpp"
#include "engine/file_disk_io.hpp"
#include "engine/disk/positional_file.hpp"
#include "session_fixture.hpp"
#include "small_drive.hpp"
#include "../support/temp_dir.hpp"

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/disk_interface.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/hasher.hpp>
#include <libtorrent/io_context.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/performance_counters.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_handle.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <libtorrent/settings_pack.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>


namespace tg {
namespace {

using namespace std::chrono_literals;

constexpr int block = lt::default_block_size;

// The torrent's bytes: every 8 bytes carry their own offset, so a block
// written at a wrong place cannot go unseen. Pad files hold zeros.
struct layout
{
    lt::file_storage fs;

    static char stamp(std::int64_t torrent_offset)
    {
        std::uint64_t const word = std::uint64_t(torrent_offset / 8) * 0x9E3779B97F4A7C15ull;
        return char(word >> (8 * (torrent_offset % 8)));
    }

    std::vector<char> bytes(std::int64_t offset, int len) const
    {
        std::vector<char> out(static_cast<std::size_t>(len));
        if (len == 0)
            return out;
        auto const slices = fs.map_block(lt::piece_index_t(int(offset / fs.piece_length())), offset % fs.piece_length(), len);
        std::int64_t at = 0;
        for (auto const& s : slices) {
            if (!fs.pad_file_at(s.file_index))
                for (std::int64_t i = 0; i < s.size; ++i)
                    out[std::size_t(at + i)] = stamp(offset + at + i);
            at += s.size;
        }
        return out;
    }

    std::int64_t piece_start(lt::piece_index_t p) const { return std::int64_t(static_cast<int>(p)) * fs.piece_length(); }
    std::vector<char> piece(lt::piece_index_t p) const { return bytes(piece_start(p), fs.piece_size(p)); }
};

lt::sha1_hash sha1_of(std::vector<char> const& data) { return lt::hasher(data.data(), int(data.size())).final(); }

struct geometry
{
    char const* name;
    int piece_length;
    // Sizes; a negative size is a pad file of that many bytes.
    std::vector<std::int64_t> files;
    // Pieces to exercise; empty: all of them.
    std::vector<int> pieces;
    // Whether the files are piece-aligned, so version-2 block hashes apply.
    bool v2 = false;
};

layout make_layout(geometry const& g)
{
    layout l;
    int n = 0;
    for (std::int64_t size : g.files) {
        bool const pad = size < 0;
        std::string const name = pad ? ".pad/" + std::to_string(-size) : "file" + std::to_string(n);
        l.fs.add_file("game/" + name + (pad ? "" : ".bin"), pad ? -size : size,
            pad ? lt::file_storage::flag_pad_file : lt::file_flags_t{});
        ++n;
    }
    l.fs.set_piece_length(g.piece_length);
    l.fs.set_num_pieces(int((l.fs.total_size() + g.piece_length - 1) / g.piece_length));
    return l;
}

class FileDiskIo : public ::testing::Test
{
protected:
    lt::io_context ios;
    lt::settings_pack settings;
    lt::counters counters;
    std::unique_ptr<lt::disk_interface> disk = file_disk_io_constructor(ios, settings, counters);
    test::temp_dir dir{"disk"};
    lt::aux::vector<lt::download_priority_t, lt::file_index_t> priorities;
    std::string save_path = dir.path().u8string();
    // Every block write's result, and how many are still to come.
    std::vector<lt::storage_error> errors;
    int pending = 0;

    void TearDown() override
    {
        if (disk)
            disk->abort(true);
    }

    // Runs the network side until `done` holds (bounded).
    template <class Pred>
    bool run_until(Pred done)
    {
        auto const deadline = std::chrono::steady_clock::now() + 60s;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            disk->submit_jobs();
            ios.restart();
            ios.run_for(5ms);
        }
        return true;
    }

    lt::storage_holder add(layout const& l)
    {
        lt::storage_params p(l.fs, nullptr, save_path, lt::storage_mode_sparse, priorities, lt::sha1_hash());
        return disk->new_torrent(p, nullptr);
    }

    lt::status_t check(lt::storage_index_t st, lt::add_torrent_params const* rd = nullptr,
        lt::storage_error* error = nullptr)
    {
        std::optional<lt::status_t> status;
        disk->async_check_files(st, rd, {}, [&](lt::status_t s, lt::storage_error const& e) {
            status = s;
            if (error)
                *error = e;
        });
        EXPECT_TRUE(run_until([&] { return status.has_value(); }));
        return status.value_or(lt::status_t::fatal_disk_error);
    }

    static lt::peer_request block_request(lt::piece_index_t p, int start, int len)
    {
        lt::peer_request r;
        r.piece = p;
        r.start = start;
        r.length = len;
        return r;
    }

    // Queues one block; its result lands in `errors`.
    void write_block(lt::storage_index_t st, lt::peer_request const& r, char const* data)
    {
        ++pending;
        disk->async_write(st, r, data, nullptr, [this](lt::storage_error const& e) {
            errors.push_back(e);
            --pending;
        });
    }

    // Queues the piece's blocks.
    void write_piece(layout const& l, lt::storage_index_t st, lt::piece_index_t p)
    {
        int const size = l.fs.piece_size(p);
        for (int start = 0; start < size; start += block) {
            int const len = std::min(block, size - start);
            write_block(st, block_request(p, start, len), l.bytes(l.piece_start(p) + start, len).data());
        }
    }

    void expect_writes_succeeded() const
    {
        for (auto const& e : errors)
            EXPECT_FALSE(e) << e.ec.message();
    }

    struct hash_result
    {
        lt::sha1_hash v1;
        std::vector<lt::sha256_hash> v2;
        lt::storage_error error;
        bool done = false;
    };

    void hash_piece(layout const& l, lt::storage_index_t st, lt::piece_index_t p, bool v2, hash_result& out)
    {
        if (v2)
            out.v2.resize(std::size_t(l.fs.blocks_in_piece2(p)));
        disk->async_hash(st, p, out.v2, lt::disk_interface::v1_hash,
            [&out](lt::piece_index_t, lt::sha1_hash const& h, lt::storage_error const& e) {
                out.v1 = h;
                out.error = e;
                out.done = true;
            });
    }

    // Whether every block write and every one of these hashes has completed.
    bool written_and_hashed(std::vector<hash_result> const& hashes) const
    {
        return pending == 0 && std::all_of(hashes.begin(), hashes.end(), [](hash_result const& h) { return h.done; });
    }

    // Writes every piece of the layout and asks for its hash; whether every
    // answer came.
    bool write_and_hash_all(layout const& l, lt::storage_index_t st, std::vector<hash_result>& hashes)
    {
        hashes.assign(std::size_t(l.fs.num_pieces()), hash_result{});
        for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
            write_piece(l, st, p);
            hash_piece(l, st, p, false, hashes[std::size_t(static_cast<int>(p))]);
        }
        return run_until([&] { return written_and_hashed(hashes); });
    }

    std::vector<char> read(lt::storage_index_t st, lt::piece_index_t p, int start, int len, lt::storage_error* error = nullptr)
    {
        std::vector<char> out;
        bool done = false;
        disk->async_read(st, block_request(p, start, len), [&](lt::disk_buffer_holder b, lt::storage_error const& e) {
            if (!e)
                out.assign(b.data(), b.data() + len);
            if (error)
                *error = e;
            done = true;
        });
        EXPECT_TRUE(run_until([&] { return done; }));
        return out;
    }

    std::vector<lt::piece_index_t> pieces_of(geometry const& g, layout const& l)
    {
        std::vector<lt::piece_index_t> out;
        if (g.pieces.empty())
            for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p)
                out.push_back(p);
        for (int p : g.pieces)
            out.push_back(p < 0 ? lt::piece_index_t(l.fs.num_pieces() + p) : lt::piece_index_t(p));
        return out;
    }
};

// Files that begin and end inside a block, pad files, empty files, a short
// last piece, and a sparse file with blocks past 4 GiB.
std::vector<geometry> const geometries = {
    {"multi_file_inside_blocks", 32768, {5000, 20000, 40000, 1, 30001, 16383, 16385}, {}, false},
    {"pad_files", 32768, {10000, -22768, 50000, -15536, 7000}, {}, true},
    {"zero_length_files", 32768, {0, 100, 0, 0, 70000, 0}, {}, false},
    {"short_last_piece", 32768, {3 * 32768 + 5}, {}, true},
    {"past_4_gib_sparse", 4 * 1024 * 1024, {5LL * 1024 * 1024 * 1024 + 12345}, {0, 1023, 1024, 1025, -1}, true},
};

TEST_F(FileDiskIo, EachLayoutIsWrittenHashedAndReadBack)
{
    for (auto const& g : geometries) {
        SCOPED_TRACE(g.name);
        test::temp_dir own{"layout"};
        save_path = own.path().u8string();
        errors.clear();
        layout const l = make_layout(g);
        lt::storage_holder st = add(l);
        EXPECT_EQ(check(st), lt::status_t::no_error);

        auto const pieces = pieces_of(g, l);
        std::vector<hash_result> hashes(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            write_piece(l, st, pieces[i]);
            hash_piece(l, st, pieces[i], g.v2, hashes[i]);
        }
        ASSERT_TRUE(run_until([&] { return written_and_hashed(hashes); }));
        expect_writes_succeeded();

        for (std::size_t i = 0; i < pieces.size(); ++i) {
            lt::piece_index_t const p = pieces[i];
            SCOPED_TRACE(static_cast<int>(p));
            auto const data = l.piece(p);
            auto const& h = hashes[i];
            EXPECT_FALSE(h.error) << h.error.ec.message();
            EXPECT_EQ(h.v1, sha1_of(data));
            for (std::size_t b = 0; b < h.v2.size(); ++b) {
                int const start = int(b) * block;
                int const len = std::min(block, l.fs.piece_size2(p) - start);
                auto const expect = l.bytes(l.piece_start(p) + start, len);
                EXPECT_EQ(h.v2[b], lt::hasher256(expect.data(), len).final()) << "block " << b;
            }
            for (int start = 0; start < int(data.size()); start += block) {
                int const len = std::min(block, int(data.size()) - start);
                auto const got = read(st, p, start, len);
                ASSERT_EQ(got.size(), std::size_t(len));
                EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + start)) << "block at " << start;
            }
        }

        // On disk: each file as the torrent says where every piece was
        // written; pad files never appear; empty files exist.
        disk->async_release_files(st, {});
        bool const all = g.pieces.empty();
        for (lt::file_index_t f : l.fs.file_range()) {
            auto const path = std::filesystem::u8path(l.fs.file_path(f, save_path));
            if (l.fs.pad_file_at(f)) {
                EXPECT_FALSE(std::filesystem::exists(path)) << path;
                continue;
            }
            ASSERT_TRUE(std::filesystem::exists(path)) << path;
            if (!all)
                continue;
            auto const bytes = test::read_file(path);
            ASSERT_EQ(std::int64_t(bytes.size()), l.fs.file_size(f)) << path;
            auto const expect = l.bytes(l.fs.file_offset(f), int(l.fs.file_size(f)));
            EXPECT_TRUE(bytes == expect) << path;
        }
        if (!all) {
            // The big file holds the last piece's end, and little else.
            auto const path = std::filesystem::u8path(l.fs.file_path(lt::file_index_t(0), save_path));
            EXPECT_EQ(std::int64_t(std::filesystem::file_size(path)), l.fs.file_size(lt::file_index_t(0)));
        }
        st.reset();
    }
}

// Writes, hashes and reads of the same pieces, all queued before any runs,
// with a block written twice: every hash sees the whole piece, every read
// sees the block's bytes, whether from the store buffer or the file.
TEST_F(FileDiskIo, SamePieceWrittenHashedAndReadAtOnce)
{
    layout const l = make_layout({"concurrent", 65536, {40 * 65536 + 777}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);

    std::vector<hash_result> hashes(2 * std::size_t(l.fs.num_pieces()));
    std::vector<std::vector<char>> reads(std::size_t(l.fs.num_pieces()) * 4);
    int reads_pending = 0;
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
        std::size_t const i = std::size_t(static_cast<int>(p));
        write_piece(l, st, p);
        hash_piece(l, st, p, false, hashes[2 * i]);
        for (int b = 0; b < 4 && b * block < l.fs.piece_size(p); ++b) {
            ++reads_pending;
            disk->async_read(st, block_request(p, b * block, std::min(block, l.fs.piece_size(p) - b * block)),
                [&, slot = i * 4 + std::size_t(b)](lt::disk_buffer_holder buf, lt::storage_error const& e) {
                    EXPECT_FALSE(e) << e.ec.message();
                    if (!e)
                        reads[slot].assign(buf.data(), buf.data() + buf.size());
                    --reads_pending;
                });
        }
        // The piece again, as the engine does for overwrite_existing.
        write_piece(l, st, p);
        hash_piece(l, st, p, false, hashes[2 * i + 1]);
        disk->submit_jobs();
    }
    ASSERT_TRUE(run_until([&] { return reads_pending == 0 && written_and_hashed(hashes); }));
    expect_writes_succeeded();
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
        std::size_t const i = std::size_t(static_cast<int>(p));
        auto const data = l.piece(p);
        auto const expect = sha1_of(data);
        EXPECT_EQ(hashes[2 * i].v1, expect) << "piece " << i;
        EXPECT_EQ(hashes[2 * i + 1].v1, expect) << "piece " << i;
        for (int b = 0; b < 4 && b * block < l.fs.piece_size(p); ++b) {
            int const len = std::min(block, l.fs.piece_size(p) - b * block);
            auto const& got = reads[i * 4 + std::size_t(b)];
            ASSERT_EQ(got.size(), std::size_t(len));
            EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + b * block)) << "piece " << i << " block " << b;
        }
    }
}

// A piece written in order is hashed from its blocks on their way to disk,
// without reading it back; a block written again with other bytes before
// the piece is done makes the hash read what actually landed.
TEST_F(FileDiskIo, HashOfAPieceMatchesWhatLanded)
{
    layout const l = make_layout({"in_order", 65536, {4 * 65536}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);
    hash_result h0;
    write_piece(l, st, lt::piece_index_t(0));
    hash_piece(l, st, lt::piece_index_t(0), false, h0);
    ASSERT_TRUE(run_until([&] { return pending == 0 && h0.done; }));
    EXPECT_EQ(h0.v1, sha1_of(l.piece(lt::piece_index_t(0))));
    EXPECT_EQ(counters[lt::counters::num_blocks_read], 0);

    // Block 1 of piece 1 twice, the second copy different.
    write_piece(l, st, lt::piece_index_t(1));
    std::vector<char> const other(block, 'x');
    write_block(st, block_request(lt::piece_index_t(1), block, block), other.data());
    hash_result h1;
    hash_piece(l, st, lt::piece_index_t(1), false, h1);
    ASSERT_TRUE(run_until([&] { return pending == 0 && h1.done; }));
    expect_writes_succeeded();
    bool released = false;
    disk->async_release_files(st, [&] { released = true; });
    ASSERT_TRUE(run_until([&] { return released; }));
    auto const file = test::read_file(std::filesystem::u8path(l.fs.file_path(lt::file_index_t(0), save_path)));
    ASSERT_GE(file.size(), std::size_t(2 * 65536));
    EXPECT_EQ(h1.v1, lt::hasher(file.data() + 65536, 65536).final());
}

// More files than the open-file set holds: it stays within its bound, and
// files closed to make room open again when needed.
TEST_F(FileDiskIo, OpenFilesStayWithinTheirBound)
{
    settings.set_int(lt::settings_pack::file_pool_size, 4);
    disk->settings_updated();
    layout const l = make_layout({"many", 32768, {9000, 9000, 9000, 9000, 9000, 9000, 9000, 9000, 9000, 9000}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p)
        write_piece(l, st, p);
    ASSERT_TRUE(run_until([&] { return pending == 0; }));
    expect_writes_succeeded();
    EXPECT_LE(disk->get_status(st).size(), 4u);
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
        hash_result h;
        hash_piece(l, st, p, false, h);
        ASSERT_TRUE(run_until([&] { return h.done; }));
        EXPECT_FALSE(h.error) << h.error.ec.message();
        EXPECT_EQ(h.v1, sha1_of(l.piece(p)));
        EXPECT_LE(disk->get_status(st).size(), 4u);
    }
}

// Released files are closed (the engine's status lists none) and open again
// on the next read or write.
TEST_F(FileDiskIo, ReleasedFilesReopenOnDemand)
{
    layout const l = make_layout({"release", 32768, {40000, 50000}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);
    write_piece(l, st, lt::piece_index_t(0));
    ASSERT_TRUE(run_until([&] { return pending == 0; }));
    EXPECT_FALSE(disk->get_status(st).empty());

    bool released = false;
    disk->async_release_files(st, [&] { released = true; });
    ASSERT_TRUE(run_until([&] { return released; }));
    EXPECT_TRUE(disk->get_status(st).empty());
    // Closed for real: the file can be renamed away and back (Windows
    // refuses to rename a file someone holds without sharing deletes).
    auto const path = std::filesystem::u8path(l.fs.file_path(lt::file_index_t(0), save_path));
    std::filesystem::rename(path, path.string() + ".moved");
    std::filesystem::rename(path.string() + ".moved", path);

    auto const got = read(st, lt::piece_index_t(0), 0, block);
    EXPECT_TRUE(got == l.bytes(0, block));
    EXPECT_FALSE(disk->get_status(st).empty());

    write_piece(l, st, lt::piece_index_t(1));
    hash_result h;
    hash_piece(l, st, lt::piece_index_t(1), false, h);
    ASSERT_TRUE(run_until([&] { return pending == 0 && h.done; }));
    expect_writes_succeeded();
    EXPECT_EQ(h.v1, sha1_of(l.piece(lt::piece_index_t(1))));
}

// The resume check trusts the resume data only when every piece it lists
// is on disk whole: a missing or short file asks the engine for a full check.
TEST_F(FileDiskIo, ResumeCheckWantsEveryListedPieceOnDisk)
{
    layout const l = make_layout({"resume", 32768, {70000, 40000}, {}, false});
    {
        lt::storage_holder st = add(l);
        ASSERT_EQ(check(st), lt::status_t::no_error);
        for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p)
            write_piece(l, st, p);
        ASSERT_TRUE(run_until([&] { return pending == 0; }));
        bool stopped = false;
        disk->async_stop_torrent(st, [&] { stopped = true; });
        ASSERT_TRUE(run_until([&] { return stopped; }));
    }
    lt::add_torrent_params rd;
    rd.have_pieces.resize(l.fs.num_pieces(), true);
    // The check of the whole resume data, which finds `file` wanting.
    auto const expect_full_check_for = [&](lt::storage_index_t st, lt::file_index_t file) {
        lt::storage_error e;
        EXPECT_EQ(check(st, &rd, &e), lt::status_t::need_full_check);
        EXPECT_EQ(e.file(), file);
    };
    auto const first = std::filesystem::u8path(l.fs.file_path(lt::file_index_t(0), save_path));
    auto const second = std::filesystem::u8path(l.fs.file_path(lt::file_index_t(1), save_path));
    {
        lt::storage_holder st = add(l);
        EXPECT_EQ(check(st, &rd), lt::status_t::no_error);
    }
    {
        // No resume data but files there: the engine must look at them.
        lt::storage_holder st = add(l);
        EXPECT_EQ(check(st), lt::status_t::need_full_check);
    }
    std::filesystem::resize_file(second, 40000 - 1);
    {
        lt::storage_holder st = add(l);
        expect_full_check_for(st, lt::file_index_t(1));
        // Only the first two pieces listed: they lie before the cut.
        lt::add_torrent_params partial;
        partial.have_pieces.resize(l.fs.num_pieces(), false);
        partial.have_pieces.set_bit(lt::piece_index_t(0));
        partial.have_pieces.set_bit(lt::piece_index_t(1));
        EXPECT_EQ(check(st, &partial), lt::status_t::no_error);
    }
    std::filesystem::remove(first);
    {
        lt::storage_holder st = add(l);
        expect_full_check_for(st, lt::file_index_t(0));
    }
}

// A renamed file moves on disk and is written at its new place.
TEST_F(FileDiskIo, RenameMovesTheFile)
{
    layout const l = make_layout({"rename", 32768, {40000}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);
    write_piece(l, st, lt::piece_index_t(0));
    std::optional<lt::storage_error> renamed;
    disk->async_rename_file(st, lt::file_index_t(0), "elsewhere/new.bin",
        [&](std::string const&, lt::file_index_t, lt::storage_error const& e) { renamed = e; });
    write_piece(l, st, lt::piece_index_t(1));
    ASSERT_TRUE(run_until([&] { return pending == 0 && renamed; }));
    EXPECT_FALSE(*renamed);
    expect_writes_succeeded();
    disk->async_release_files(st, {});
    auto const bytes = test::read_file(std::filesystem::u8path(save_path) / "elsewhere" / "new.bin");
    EXPECT_TRUE(bytes == l.bytes(0, 40000));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(l.fs.file_path(lt::file_index_t(0), save_path))));
}

// Files named like devices ("nul", "aux.dat", "con.txt", a folder "con")
// and a path past 260 characters: under Windows each is a file of its own,
// written, found by the resume check, read back and removed; Windows maps
// those names to devices unless the path is in the "\\?\" form.
TEST_F(FileDiskIo, FilesNamedLikeDevicesAreFiles)
{
    std::string const deep = std::string(60, 'd') + "/" + std::string(60, 'e') + "/" + std::string(60, 'f') + "/"
        + std::string(60, 'g') + "/long.bin";
    struct named
    {
        std::string name;
        std::int64_t size;
    };
    std::vector<named> const files = {{"aux.dat", 5000}, {"con.txt", 20000}, {"nul", 7001}, {"com1.log", 3000},
        {"prn", 16384}, {"con/lpt1", 9000}, {deep, 12345}};
    layout l;
    for (auto const& f : files)
        l.fs.add_file("game/" + f.name, f.size);
    l.fs.set_piece_length(16384);
    l.fs.set_num_pieces(int((l.fs.total_size() + 16383) / 16384));
    ASSERT_GT(l.fs.file_path(lt::file_index_t(int(files.size()) - 1), save_path).size(), 260u);

    {
        lt::storage_holder st = add(l);
        ASSERT_EQ(check(st), lt::status_t::no_error);
        std::vector<hash_result> hashes;
        ASSERT_TRUE(write_and_hash_all(l, st, hashes));
        expect_writes_succeeded();
        bool stopped = false;
        disk->async_stop_torrent(st, [&] { stopped = true; });
        ASSERT_TRUE(run_until([&] { return stopped; }));
    }

    // Each one a file of its size, listed in its folder (a device is not).
    for (lt::file_index_t f : l.fs.file_range()) {
        std::string const path = l.fs.file_path(f, save_path);
        SCOPED_TRACE(path);
        error_code ec;
        EXPECT_EQ(file_size_at(path, ec), l.fs.file_size(f)) << ec.message();
        auto const native = std::filesystem::u8path(path);
        auto folder = native.parent_path();
#ifdef _WIN32
        // The folder "con" and the long path need the literal form here too.
        folder = extended_path(folder.wstring(), std::filesystem::current_path().wstring());
#endif
        // The C runtime's folder listing (under the test's directory_iterator)
        // takes no folder of MAX_PATH or more; the long file is checked by
        // its size and its bytes only.
        if (folder.native().size() >= 248)
            continue;
        bool listed = false;
        std::error_code lec;
        for (auto const& entry : std::filesystem::directory_iterator(folder, lec))
            listed = listed || entry.path().filename() == native.filename();
        EXPECT_TRUE(listed) << lec.message();
    }

    // The next attempt's resume check finds every piece on disk, and the
    // bytes read back are the torrent's.
    lt::add_torrent_params rd;
    rd.have_pieces.resize(l.fs.num_pieces(), true);
    lt::storage_holder st = add(l);
    lt::storage_error ce;
    EXPECT_EQ(check(st, &rd, &ce), lt::status_t::no_error) << ce.ec.message() << " file " << int(ce.file());
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
        auto const data = l.piece(p);
        for (int start = 0; start < int(data.size()); start += block) {
            int const len = std::min(block, int(data.size()) - start);
            lt::storage_error re;
            auto const got = read(st, p, start, len, &re);
            EXPECT_FALSE(re) << re.ec.message() << " file " << int(re.file());
            EXPECT_TRUE(got.size() == std::size_t(len) && std::equal(got.begin(), got.end(), data.begin() + start))
                << "piece " << static_cast<int>(p) << " at " << start;
        }
    }

    lt::storage_error de;
    bool deleted = false;
    disk->async_delete_files(st, lt::session_handle::delete_files, [&](lt::storage_error const& e) {
        de = e;
        deleted = true;
    });
    ASSERT_TRUE(run_until([&] { return deleted; }));
    EXPECT_FALSE(de) << de.ec.message();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The failure cases save to a 256 KiB drive of their own.
class FileDiskIoOnSmallDrive : public FileDiskIo
{
protected:
    void SetUp() override { save_path = drive.path().u8string(); }

    test::small_drive drive{256 * 1024};
};

// A write the file system refuses reaches the engine as a storage error
// with its file and operation, in the category the engine does not turn
// into upload mode; and the piece's hash, queued behind the write, fails
// with it instead of reporting a piece whose data never landed.
TEST_F(FileDiskIoOnSmallDrive, FullFileSystemFailsTheWriteAndItsHash)
{
    layout const l = make_layout({"full", 65536, {1024 * 1024}, {}, false});
    lt::storage_holder st = add(l);
    ASSERT_EQ(check(st), lt::status_t::no_error);

    std::vector<hash_result> hashes;
    ASSERT_TRUE(write_and_hash_all(l, st, hashes));
    int failed = 0;
    for (auto const& e : errors) {
        if (!e)
            continue;
        ++failed;
        EXPECT_EQ(e.ec.category(), write_failure_category());
        EXPECT_EQ(e.ec.value(), test::no_space_error);
        EXPECT_EQ(e.operation, lt::operation_t::file_write);
        EXPECT_EQ(e.file(), lt::file_index_t(0));
        EXPECT_FALSE(e.ec == boost::system::errc::no_space_on_device);
    }
    EXPECT_GT(failed, 0);
    int good = 0;
    for (lt::piece_index_t p(0); p < l.fs.end_piece(); ++p) {
        auto const& h = hashes[std::size_t(static_cast<int>(p))];
        auto const data = l.piece(p);
        if (h.v1 == sha1_of(data) && !h.error) {
            ++good;
            // A piece reported good is on disk.
            auto const got = read(st, p, 0, block);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
        } else {
            EXPECT_TRUE(h.error) << "piece " << static_cast<int>(p) << " failed silently";
        }
    }
    EXPECT_LT(good, l.fs.num_pieces());
}

TEST_F(FileDiskIoOnSmallDrive, ReadOnlyFileSystemFailsTheOpenForWriting)
{
    layout const l = make_layout({"read_only", 32768, {1000, 40000}, {}, false});
    // The files exist (a copy from an earlier attempt), then the drive turns
    // read-only under us.
    for (lt::file_index_t f : l.fs.file_range()) {
        auto const path = std::filesystem::u8path(l.fs.file_path(f, save_path));
        std::filesystem::create_directories(path.parent_path());
        test::write_file(path, std::vector<char>(std::size_t(l.fs.file_size(f))));
    }
    drive.make_read_only();
    lt::storage_holder st = add(l);
    write_piece(l, st, lt::piece_index_t(0));
    ASSERT_TRUE(run_until([&] { return pending == 0; }));
    ASSERT_FALSE(errors.empty());
    auto const& e = errors.front();
    ASSERT_TRUE(e);
    EXPECT_EQ(e.ec.category(), write_failure_category());
    EXPECT_EQ(e.ec.value(), test::read_only_error) << e.ec.message() << " " << operation_name(e.operation);
    EXPECT_EQ(e.operation, lt::operation_t::file_open);
    EXPECT_EQ(e.file(), lt::file_index_t(0));
    EXPECT_FALSE(e.ec == boost::system::errc::read_only_file_system);
    // Reading still works.
    auto const got = read(st, lt::piece_index_t(0), 0, 1000);
    EXPECT_EQ(got, std::vector<char>(1000));
}

// The same drive under a real session, whose own disk I/O this is.
using FileDiskIoSession = FileDiskIoOnSmallDrive;

// Through a real session: pieces handed to the engine for a drive that
// fills stop the torrent with the write's error (error set and paused),
// which is what the download loop ends a failed attempt on. The engine's
// own disk back ends leave it downloading in upload mode instead.
TEST_F(FileDiskIoSession, FullDriveStopsTheTorrentWithItsError)
{
    test::temp_dir source{"source"};
    int const piece_length = 64 * 1024;
    auto const file = test::make_torrent(source.path(), "game", {{"data.bin", 1024 * 1024}}, piece_length);
    auto const ti = std::make_shared<lt::torrent_info>(file, lt::from_span);
    auto const data = test::read_file(source.path() / "game");

    lt::session session{test::with_file_disk_io(test::loopback_settings())};
    lt::add_torrent_params atp;
    atp.ti = ti;
    atp.save_path = save_path;
    lt::torrent_handle const h = session.add_torrent(atp);
    ASSERT_TRUE(test::wait_until([&] { return h.status().state == lt::torrent_status::downloading; }, 30s));
    for (lt::piece_index_t p(0); p < ti->end_piece(); ++p) {
        auto const start = data.begin() + std::ptrdiff_t(static_cast<int>(p)) * piece_length;
        h.add_piece(p, std::vector<char>(start, start + ti->piece_size(p)));
    }
    ASSERT_TRUE(test::wait_until(
        [&] {
            auto const st = h.status();
            return st.errc && (st.flags & lt::torrent_flags::paused);
        },
        30s))
        << "state " << int(h.status().state) << ", upload mode " << bool(h.status().flags & lt::torrent_flags::upload_mode);
    auto const st = h.status();
    EXPECT_EQ(st.errc.value(), test::no_space_error) << st.errc.message();
    EXPECT_EQ(st.error_file, 0);
    // Only pieces whose data landed count as had.
    for (lt::piece_index_t p(0); p < ti->end_piece(); ++p) {
        if (!h.have_piece(p))
            continue;
        std::ifstream in(drive.path() / "game", std::ios::binary);
        std::vector<char> got(std::size_t(ti->piece_size(p)));
        in.seekg(std::streamoff(static_cast<int>(p)) * piece_length);
        in.read(got.data(), std::streamsize(got.size()));
        auto const start = data.begin() + std::ptrdiff_t(static_cast<int>(p)) * piece_length;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), start)) << "piece " << static_cast<int>(p);
    }
}

#ifndef _WIN32
// The end of a download. A game file that takes every write and cannot be
// committed (here the null device, whose fsync fails with EINVAL, as a
// pulled drive or a network drive fails at the flush): the torrent reaches
// seeding on the pieces' hashes; the release the engine makes then fails,
// and the check after it reports that failure and stops the torrent with it
// (error set, paused), so that the attempt does not end as a success. A
// plain file passes the same check.
TEST(FileDiskIoRelease, FailedFlushAtTheEndStopsTheTorrent)
{
    for (bool const null_device : {false, true}) {
        SCOPED_TRACE(null_device ? "null device" : "plain file");
        test::temp_dir source{"source"};
        test::temp_dir target{"target"};
        int const piece_length = 64 * 1024;
        auto const file = test::make_torrent(source.path(), "game", {{"data.bin", 256 * 1024}}, piece_length);
        auto const ti = std::make_shared<lt::torrent_info>(file, lt::from_span);
        auto const data = test::read_file(source.path() / "game");
        if (null_device)
            std::filesystem::create_symlink("/dev/null", target.path() / "game");

        lt::session session{test::with_file_disk_io(test::loopback_settings())};
        lt::add_torrent_params atp;
        atp.ti = ti;
        atp.save_path = target.path().u8string();
        lt::torrent_handle const h = session.add_torrent(atp);
        ASSERT_TRUE(test::wait_until([&] { return h.status().state == lt::torrent_status::downloading; }, 30s));
        for (lt::piece_index_t p(0); p < ti->end_piece(); ++p) {
            auto const start = data.begin() + std::ptrdiff_t(static_cast<int>(p)) * piece_length;
            h.add_piece(p, std::vector<char>(start, start + ti->piece_size(p)));
        }
        ASSERT_TRUE(test::wait_until([&] { return h.status().state == lt::torrent_status::seeding; }, 30s));
        EXPECT_FALSE(h.status().errc);

        session.pause();
        error_code const ec = release_failure(session, h, lt::seconds(30));
        auto const st = h.status();
        if (!null_device) {
            EXPECT_FALSE(ec) << ec.message();
            EXPECT_FALSE(st.errc) << st.errc.message();
            EXPECT_TRUE(test::read_file(target.path() / "game") == data);
            continue;
        }
        EXPECT_EQ(ec.value(), EINVAL) << ec.message();
        EXPECT_EQ(ec.category(), write_failure_category());
        EXPECT_EQ(st.errc.value(), EINVAL) << st.errc.message();
        EXPECT_TRUE(st.flags & lt::torrent_flags::paused);
        EXPECT_EQ(st.error_file, 0);
    }
}
#endif

} // namespace
} // namespace tg
