// The DHT state and resume files against a real engine session.
#include <gtest/gtest.h>

#include "engine/file_disk_io.hpp"
#include "resume_saving.h"
#include "saved_state.h"
#include "session_options.h"
#include "../support/temp_dir.hpp"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <libtorrent/write_resume_data.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace tollgrove;

namespace {

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
    tg::test::temp_dir dir("state");
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
        const fs::path p = dir.path() / c.name;
        WriteBytes(p, c.bytes);
        const lt::session_params params = ReadDhtState(p);
        EXPECT_TRUE(params.dht_state.nodes.empty()) << c.name;
    }
    EXPECT_TRUE(ReadDhtState(dir.path() / "missing").dht_state.nodes.empty());
}

TEST(DhtStateFile, WrittenStateReadsBackAndReplacesTheOldFile)
{
    tg::test::temp_dir dir("state");
    const fs::path p = dir.path() / "game.dhtstate";
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
    EXPECT_FALSE(fs::exists(dir.path() / "game.dhtstate.tmp"));
    // It reads back as the state the session had, and a new session accepts it.
    lt::session_params again = ReadDhtState(p);
    EXPECT_EQ(again.dht_state.nids, written.nids);
    again.settings = LoopbackParams().settings;
    lt::session s2(again);
}

TEST(ResumeFile, SavedForATorrentWithDataAndReadBackByTheEngine)
{
    tg::test::temp_dir dir("state");
    std::vector<char> data(256 * 1024 + 7);
    std::mt19937 gen(3);
    for (auto& c : data) c = static_cast<char>(gen());
    std::ofstream(dir.path() / "a.bin", std::ios::binary).write(data.data(), std::streamsize(data.size()));
    lt::file_storage fsto;
    lt::add_files(fsto, (dir.path() / "a.bin").string());
    lt::create_torrent ct(fsto, 32 * 1024);
    lt::set_piece_hashes(ct, dir.path().string());
    std::vector<char> tbuf;
    lt::bencode(std::back_inserter(tbuf), ct.generate());

    lt::session s(LoopbackParams());
    lt::add_torrent_params atp;
    atp.ti = std::make_shared<lt::torrent_info>(tbuf, lt::from_span);
    atp.save_path = dir.path().string();
    lt::torrent_handle h = s.add_torrent(atp);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!h.status().is_seeding && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(h.status().is_seeding);

    // A stale file from an earlier attempt is replaced.
    const fs::path resume = dir.path() / "a.resume";
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
    tg::test::temp_dir dir("state");
    lt::session s(LoopbackParams());
    const fs::path resume = dir.path() / "none.resume";
    EXPECT_THROW(SaveResumeData(s, lt::torrent_handle(), resume, lt::seconds(1)), std::exception);
    EXPECT_FALSE(fs::exists(resume));
}

TEST(ResumeFile, OnlyTheTorrentsOwnResumeDataIsUsed)
{
    // The publisher replaced the .torrent: the same file, another piece size.
    tg::test::temp_dir dir("state");
    WriteRandomFile(dir.path() / "a.bin", 256 * 1024 + 7);
    const auto oldTorrent = MakeTorrent(dir.path(), "a.bin", 32 * 1024);
    const auto newTorrent = MakeTorrent(dir.path(), "a.bin", 64 * 1024);
    ASSERT_NE(oldTorrent->info_hashes(), newTorrent->info_hashes());
    lt::add_torrent_params saved;
    saved.ti = oldTorrent;
    saved.info_hashes = oldTorrent->info_hashes();
    saved.save_path = dir.path().string();
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
        atp.save_path = dir.path().string();
        lt::session s(LoopbackParams());
        lt::torrent_handle h;
        ASSERT_NO_THROW(h = s.add_torrent(std::move(atp)));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!h.status().is_seeding && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(h.status().is_seeding);
    }
}

TEST(StateFileReplacement, ReplacesWholeAndLeavesNoTemporaryFile)
{
    tg::test::temp_dir dir("state");
    const fs::path p = dir.path() / "game.resume";
    WriteBytes(p, "old");
    // More than one write call's worth.
    std::vector<char> bytes(3 * 1024 * 1024 + 5);
    std::mt19937 gen(7);
    for (auto& c : bytes) c = static_cast<char>(gen());
    ASSERT_TRUE(ReplaceFileContents(p, bytes));
    EXPECT_EQ(ReadBytes(p), bytes);
    EXPECT_FALSE(fs::exists(TemporaryPathFor(p)));
    ASSERT_TRUE(ReplaceFileContents(p, {}));
    EXPECT_EQ(fs::file_size(p), 0u);
}

TEST(StateFileReplacement, AGoodFileSurvivesAFailedWrite)
{
    const std::string good = "d8:file-format22:libtorrent resume filee";
    const std::vector<char> newer(4096, 'x');
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> spoil; // makes the replacement fail
        std::function<void()> release;
    };
    std::vector<Case> cases;
    cases.push_back({"the temporary name is taken by a folder",
        [](const fs::path& p) { fs::create_directories(TemporaryPathFor(p) / "inside"); }, [] {}});
#ifdef _WIN32
    // Another program (a virus scanner, a backup) holds the file open
    // without letting it be replaced: the rename fails after the write.
    HANDLE held = INVALID_HANDLE_VALUE;
    cases.push_back({"the file is held open without delete sharing",
        [&](const fs::path& p) {
            held = ::CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        },
        [&] { ::CloseHandle(held); }});
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tg::test::temp_dir dir("state");
        const fs::path p = dir.path() / "game.resume";
        WriteBytes(p, good);
        c.spoil(p);
        EXPECT_FALSE(ReplaceFileContents(p, newer));
        c.release();
        const std::vector<char> after = ReadBytes(p);
        EXPECT_EQ(std::string(after.begin(), after.end()), good);
        // A temporary file of ours never stays; a folder of that name is not ours.
        EXPECT_FALSE(fs::is_regular_file(TemporaryPathFor(p)));
    }
}

namespace {

// A session with a torrent of which the first half is on disk, downloading
// from nobody once its files are checked.
struct HalfDoneTorrent {
    tg::test::temp_dir dir{"state"};
    lt::session session{LoopbackParams()};
    std::shared_ptr<lt::torrent_info> ti;
    lt::torrent_handle handle;
    static constexpr int kPieceSize = 32 * 1024;

    HalfDoneTorrent()
    {
        const std::size_t size = 16 * kPieceSize;
        WriteRandomFile(dir.path() / "a.bin", size);
        ti = MakeTorrent(dir.path(), "a.bin", kPieceSize);
        fs::resize_file(dir.path() / "a.bin", size / 2);
        lt::add_torrent_params atp;
        atp.ti = ti;
        atp.save_path = dir.path().string();
        handle = session.add_torrent(atp);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (handle.status().state != lt::torrent_status::downloading && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    int PiecesIn(const fs::path& resume) const
    {
        lt::error_code ec;
        const lt::add_torrent_params back = lt::read_resume_data(ReadBytes(resume), ec);
        EXPECT_FALSE(ec) << ec.message();
        return back.have_pieces.count();
    }

    // Resume answers for the torrent still queued after `wait`.
    int AnswersLeft(lt::time_duration wait)
    {
        int left = 0;
        const auto until = lt::clock_type::now() + wait;
        while (lt::clock_type::now() < until) {
            session.wait_for_alert(std::chrono::duration_cast<lt::time_duration>(until - lt::clock_type::now()));
            std::vector<lt::alert*> alerts;
            session.pop_alerts(&alerts);
            for (lt::alert* a : alerts)
                if (auto* t = lt::alert_cast<lt::torrent_alert>(a))
                    if (t->handle == handle &&
                        (lt::alert_cast<lt::save_resume_data_alert>(a) || lt::alert_cast<lt::save_resume_data_failed_alert>(a)))
                        ++left;
        }
        return left;
    }
};

} // namespace

TEST(PeriodicResume, SavedWhenTheEngineHasNewDataAndAnsweredThroughThePump)
{
    HalfDoneTorrent t;
    ASSERT_EQ(t.handle.status().state, lt::torrent_status::downloading);
    const fs::path resume = t.dir.path() / "a.resume";
    PeriodicResumeSaver saver(resume, 0, 1000);
    saver.Tick(t.handle, t.handle.status(), 999);
    EXPECT_EQ(saver.PendingRequests(), 0) << "asked before the interval passed";
    saver.Tick(t.handle, t.handle.status(), 1000);
    ASSERT_EQ(saver.PendingRequests(), 1);
    // The loop's pump hands every alert over; the answer writes the file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (saver.PendingRequests() != 0 && std::chrono::steady_clock::now() < deadline) {
        t.session.wait_for_alert(lt::seconds(1));
        std::vector<lt::alert*> alerts;
        t.session.pop_alerts(&alerts);
        for (lt::alert* a : alerts)
            saver.OnAlert(a, t.handle);
    }
    ASSERT_EQ(saver.FilesWritten(), 1);
    EXPECT_EQ(t.PiecesIn(resume), 8);
    EXPECT_FALSE(fs::exists(TemporaryPathFor(resume)));
    // Nothing new since: the engine is not asked for the same data again.
    saver.Tick(t.handle, t.handle.status(), 5000);
    EXPECT_EQ(saver.PendingRequests(), 0);
}

TEST(PeriodicResume, TheStopWaitsForASaveInFlightAndLeavesNoAnswerBehind)
{
    HalfDoneTorrent t;
    ASSERT_EQ(t.handle.status().state, lt::torrent_status::downloading);
    const fs::path resume = t.dir.path() / "a.resume";
    PeriodicResumeSaver saver(resume, 0, 0);
    saver.Tick(t.handle, t.handle.status(), 0);
    ASSERT_EQ(saver.PendingRequests(), 1);
    // The stop comes before the pump saw the periodic answer, and the
    // torrent changed since that was asked for (a limit the resume data
    // carries).
    t.handle.set_upload_limit(12345);
    t.session.pause();
    ASSERT_TRUE(SaveResumeData(t.session, t.handle, resume, lt::seconds(30), saver.PendingRequests()));
    lt::error_code ec;
    const lt::add_torrent_params back = lt::read_resume_data(ReadBytes(resume), ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(back.have_pieces.count(), 8);
    EXPECT_EQ(back.upload_limit, 12345) << "the file is the periodic answer, not the stop's";
    EXPECT_EQ(t.AnswersLeft(lt::seconds(1)), 0) << "an answer was left in the queue";
}
