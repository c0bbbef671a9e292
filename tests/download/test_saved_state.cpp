// The DHT state and resume files against a real engine session.
#include <gtest/gtest.h>

#include "engine/file_disk_io.hpp"
#include "saved_state.h"
#include "session_options.h"

#include <libtorrent/create_torrent.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <libtorrent/write_resume_data.hpp>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace tollgrove;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::random_device rd;
        path = fs::temp_directory_path() / ("tg-state-" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void WriteBytes(const fs::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<char> ReadBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A torrent over the files below `dir`, with the given piece size.
std::shared_ptr<lt::torrent_info> MakeTorrent(const fs::path& dir, const char* name, int pieceSize)
{
    lt::file_storage fsto;
    lt::add_files(fsto, (dir / name).string());
    lt::create_torrent ct(fsto, pieceSize);
    lt::set_piece_hashes(ct, dir.string());
    std::vector<char> tbuf;
    lt::bencode(std::back_inserter(tbuf), ct.generate());
    return std::make_shared<lt::torrent_info>(tbuf, lt::from_span);
}

void WriteRandomFile(const fs::path& p, std::size_t size)
{
    std::vector<char> data(size);
    std::mt19937 gen(3);
    for (auto& c : data) c = static_cast<char>(gen());
    std::ofstream(p, std::ios::binary).write(data.data(), std::streamsize(data.size()));
}

lt::session_params LoopbackParams()
{
    lt::session_params p;
    SessionOptions o;
    o.limits.listenPort = 0;
    p.settings = MakeSessionSettings(o, true);
    p.disk_io_constructor = tg::file_disk_io_constructor;
    return p;
}

} // namespace

TEST(DhtStateFile, MalformedFilesGiveNoSavedNodes)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"garbage", "this is not bencoding at all"},
        {"truncated", "d9:dht statd"},
        {"a list", "li1ei2ee"},
    };
    for (const auto& c : cases) {
        const fs::path p = dir.path / c.name;
        WriteBytes(p, c.bytes);
        const lt::session_params params = ReadDhtState(p);
        EXPECT_TRUE(params.dht_state.nodes.empty()) << c.name;
    }
    EXPECT_TRUE(ReadDhtState(dir.path / "missing").dht_state.nodes.empty());
}

TEST(DhtStateFile, WrittenStateReadsBackAndReplacesTheOldFile)
{
    TempDir dir;
    const fs::path p = dir.path / "game.dhtstate";
    WriteBytes(p, "old contents that are not a state");
    lt::dht::dht_state written;
    {
        lt::session s(LoopbackParams());
        // The node's identity, once the DHT has one for its interface.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (s.session_state(lt::session_handle::save_dht_state).dht_state.nids.empty() &&
            std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written = s.session_state(lt::session_handle::save_dht_state).dht_state;
        ASSERT_FALSE(written.nids.empty());
        ASSERT_TRUE(WriteDhtState(s, p));
    }
    const std::vector<char> bytes = ReadBytes(p);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.front(), 'd');
    EXPECT_FALSE(fs::exists(dir.path / "game.dhtstate.tmp"));
    // It reads back as the state the session had, and a new session accepts it.
    lt::session_params again = ReadDhtState(p);
    EXPECT_EQ(again.dht_state.nids, written.nids);
    again.settings = LoopbackParams().settings;
    lt::session s2(again);
}

TEST(ResumeFile, SavedForATorrentWithDataAndReadBackByTheEngine)
{
    TempDir dir;
    std::vector<char> data(256 * 1024 + 7);
    std::mt19937 gen(3);
    for (auto& c : data) c = static_cast<char>(gen());
    std::ofstream(dir.path / "a.bin", std::ios::binary).write(data.data(), std::streamsize(data.size()));
    lt::file_storage fsto;
    lt::add_files(fsto, (dir.path / "a.bin").string());
    lt::create_torrent ct(fsto, 32 * 1024);
    lt::set_piece_hashes(ct, dir.path.string());
    std::vector<char> tbuf;
    lt::bencode(std::back_inserter(tbuf), ct.generate());

    lt::session s(LoopbackParams());
    lt::add_torrent_params atp;
    atp.ti = std::make_shared<lt::torrent_info>(tbuf, lt::from_span);
    atp.save_path = dir.path.string();
    lt::torrent_handle h = s.add_torrent(atp);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!h.status().is_seeding && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(h.status().is_seeding);

    // A stale file from an earlier attempt is replaced.
    const fs::path resume = dir.path / "a.resume";
    WriteBytes(resume, "stale");
    s.pause();
    ASSERT_TRUE(SaveResumeData(s, h, resume));
    lt::error_code ec;
    const std::vector<char> bytes = ReadBytes(resume);
    lt::add_torrent_params back = lt::read_resume_data(bytes, ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(back.info_hashes, atp.ti->info_hashes());
    EXPECT_EQ(back.have_pieces.count(), atp.ti->num_pieces());
}

TEST(ResumeFile, InvalidHandleThrowsAndWritesNothing)
{
    // The caller's guard turns this into the attempt's exception result.
    TempDir dir;
    lt::session s(LoopbackParams());
    const fs::path resume = dir.path / "none.resume";
    EXPECT_THROW(SaveResumeData(s, lt::torrent_handle(), resume, lt::seconds(1)), std::exception);
    EXPECT_FALSE(fs::exists(resume));
}

TEST(ResumeFile, OnlyTheTorrentsOwnResumeDataIsUsed)
{
    // The publisher replaced the .torrent: the same file, another piece size.
    TempDir dir;
    WriteRandomFile(dir.path / "a.bin", 256 * 1024 + 7);
    const auto oldTorrent = MakeTorrent(dir.path, "a.bin", 32 * 1024);
    const auto newTorrent = MakeTorrent(dir.path, "a.bin", 64 * 1024);
    ASSERT_NE(oldTorrent->info_hashes(), newTorrent->info_hashes());
    lt::add_torrent_params saved;
    saved.ti = oldTorrent;
    saved.info_hashes = oldTorrent->info_hashes();
    saved.save_path = dir.path.string();
    saved.have_pieces.resize(oldTorrent->num_pieces(), true);
    const std::vector<char> oldResume = lt::write_resume_data_buf(saved);
    saved.ti = newTorrent;
    saved.info_hashes = newTorrent->info_hashes();
    saved.have_pieces.clear();
    saved.have_pieces.resize(newTorrent->num_pieces(), true);
    const std::vector<char> ownResume = lt::write_resume_data_buf(saved);

    const struct {
        const char* name;
        std::vector<char> bytes;
        bool kept;
        bool logged;
    } cases[] = {
        {"the torrent's own", ownResume, true, false},
        {"another torrent's", oldResume, false, true},
        {"damaged", {'d', '4', ':', 'j'}, false, true},
        {"none", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dropped;
        lt::add_torrent_params atp = ResumeParamsFor(c.bytes, *newTorrent, dropped);
        EXPECT_EQ(dropped.empty(), !c.logged) << dropped;
        EXPECT_EQ(atp.have_pieces.count(), c.kept ? newTorrent->num_pieces() : 0);
        // The engine takes what comes back and, with or without resume
        // data, finds the complete file on disk.
        atp.ti = newTorrent;
        atp.save_path = dir.path.string();
        lt::session s(LoopbackParams());
        lt::torrent_handle h;
        ASSERT_NO_THROW(h = s.add_torrent(std::move(atp)));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!h.status().is_seeding && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(h.status().is_seeding);
    }
}
