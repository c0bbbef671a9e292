// Torrents added through the component: sources from the .torrent and the
// resume data, no engine web seeds, resume data without sources, the handle
// operations and their expired-handle error.
#include "engine/direct_http_engine.hpp"
#include "manual_clock.hpp"
#include "session_fixture.hpp"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/read_resume_data.hpp>
#include <libtorrent/torrent_status.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tg {
namespace {

lt::entry entry_list(std::vector<lt::entry> items)
{
    return lt::entry(lt::entry::list_type(items.begin(), items.end()));
}

std::vector<std::string> urls_by_id(torrent_handle const& h)
{
    std::vector<std::string> v;
    std::int32_t expected_id = 1;
    for (auto const& s : h.sources()) {
        EXPECT_EQ(s.id, expected_id++);
        EXPECT_EQ(s.state, direct_http_source::idle);
        v.push_back(s.url);
    }
    return v;
}

using strings = std::vector<std::string>;

class DirectHttpEngine : public ::testing::Test
{
protected:
    test::temp_dir dir{"engine"};
    lt::session session{test::with_file_disk_io(test::loopback_settings())};
    test::manual_clock clock;
    direct_http_engine engine{session, clock};
    int torrents_made = 0;

    // A small single-file torrent, named apart from the others so that each
    // has its own info-hash; `edit` changes its entry.
    std::vector<char> torrent_bytes(std::function<void(lt::entry&)> const& edit = {})
    {
        std::string const name = "game" + std::to_string(++torrents_made) + ".bin";
        return test::make_torrent(dir.path(), name, {{"", 100000}}, 16384, edit);
    }

    lt::add_torrent_params params(std::vector<char> const& file)
    {
        lt::add_torrent_params atp;
        atp.ti = std::make_shared<lt::torrent_info>(file, lt::from_span);
        atp.save_path = dir.path().u8string();
        atp.flags |= lt::torrent_flags::paused | lt::torrent_flags::auto_managed;
        return atp;
    }

    // Resume data from bencoded bytes, as the download job reads it.
    lt::add_torrent_params params_with_resume(std::vector<char> const& file, lt::entry const& resume)
    {
        std::vector<char> buf;
        lt::bencode(std::back_inserter(buf), resume);
        lt::error_code ec;
        lt::add_torrent_params atp = lt::read_resume_data(buf, ec);
        EXPECT_FALSE(ec) << ec.message();
        lt::add_torrent_params base = params(file);
        atp.ti = base.ti;
        atp.save_path = base.save_path;
        atp.flags |= base.flags;
        return atp;
    }

    lt::entry resume_for(std::vector<char> const& file)
    {
        lt::torrent_info ti(file, lt::from_span);
        lt::entry e;
        e["file-format"] = "libtorrent resume file";
        e["file-version"] = 1;
        e["info-hash"] = ti.info_hashes().v1.to_string();
        return e;
    }
};

TEST_F(DirectHttpEngine, TorrentFileListsBecomeSourcesInOrder)
{
    struct row
    {
        char const* what;
        std::function<void(lt::entry&)> edit;
        strings expected; // in source_id order
    };
    std::vector<row> const rows = {
        {"no lists", {}, {}},
        {"url-list one string", [](lt::entry& e) { e["url-list"] = "http://s/a"; }, {"http://s/a"}},
        {"url-list of three", [](lt::entry& e) { e["url-list"] = entry_list({"http://1/", "http://2/", "http://3/"}); },
            {"http://1/", "http://2/", "http://3/"}},
        {"url-list before httpseeds",
            [](lt::entry& e) {
                e["httpseeds"] = entry_list({"http://h/seed"});
                e["url-list"] = "http://u/x";
            },
            {"http://u/x", "http://h/seed"}},
        {"httpseeds one string", [](lt::entry& e) { e["httpseeds"] = "http://h/"; }, {"http://h/"}},
        {"numbers and lists skipped; repeats and raw bytes kept",
            [](lt::entry& e) {
                e["url-list"] = entry_list({lt::entry(7), "http://a/b c", lt::entry(lt::entry::list_type{}), "http://a/b c"});
            },
            {"http://a/b c", "http://a/b c"}},
        {"url-list of another type", [](lt::entry& e) { e["url-list"] = 5; }, {}},
    };
    for (auto const& r : rows) {
        std::vector<char> const file = torrent_bytes(r.edit);
        torrent_handle h = engine.add_torrent(params(file), file);
        EXPECT_EQ(urls_by_id(h), r.expected) << r.what;
        EXPECT_EQ(h.num_url_seeds(), int(r.expected.size())) << r.what;
        // The engine keeps no web seed of its own, so it never runs one.
        EXPECT_TRUE(h.native_handle().url_seeds().empty()) << r.what;
        EXPECT_TRUE(h.native_handle().http_seeds().empty()) << r.what;
        engine.remove_torrent(h);
    }
}

TEST_F(DirectHttpEngine, ResumeListsFollowTheTorrentFileLists)
{
    struct row
    {
        char const* what;
        std::function<void(lt::entry&)> edit;
        strings expected;
    };
    std::vector<row> const rows = {
        {"both lists", [](lt::entry& r) {
             r["httpseeds"] = entry_list({"http://r/h"});
             r["url-list"] = entry_list({"http://r/1", "http://r/2"});
         },
            {"http://t/", "http://r/1", "http://r/2", "http://r/h"}},
        {"single string ignored", [](lt::entry& r) { r["url-list"] = "http://r/1"; }, {"http://t/"}},
        {"empty strings and numbers skipped",
            [](lt::entry& r) { r["url-list"] = entry_list({"", lt::entry(3), "http://r/x", lt::entry(lt::entry::dictionary_type{})}); },
            {"http://t/", "http://r/x"}},
        {"same URL as the torrent file", [](lt::entry& r) { r["url-list"] = entry_list({"http://t/"}); },
            {"http://t/", "http://t/"}},
        {"empty lists", [](lt::entry& r) {
             r["url-list"] = lt::entry::list_type{};
             r["httpseeds"] = lt::entry::list_type{};
         },
            {"http://t/"}},
    };
    for (auto const& r : rows) {
        std::vector<char> const file = torrent_bytes([](lt::entry& e) { e["url-list"] = "http://t/"; });
        lt::entry resume = resume_for(file);
        r.edit(resume);
        torrent_handle h = engine.add_torrent(params_with_resume(file, resume), file);
        EXPECT_EQ(urls_by_id(h), r.expected) << r.what;
        EXPECT_TRUE(h.native_handle().url_seeds().empty()) << r.what;
        EXPECT_TRUE(h.native_handle().http_seeds().empty()) << r.what;
        engine.remove_torrent(h);
    }
}

TEST_F(DirectHttpEngine, EngineWrittenResumeDataCarriesNoSources)
{
    std::vector<char> const file = torrent_bytes([](lt::entry& e) { e["url-list"] = "http://t/"; });
    torrent_handle h = engine.add_torrent(params(file), file);
    h.add_url_seed("http://job/");
    ASSERT_EQ(h.num_url_seeds(), 2);

    h.native_handle().save_resume_data(lt::torrent_handle::save_info_dict);
    std::vector<char> resume;
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (resume.empty() && std::chrono::steady_clock::now() < deadline) {
        session.wait_for_alert(std::chrono::milliseconds(200));
        std::vector<lt::alert*> alerts;
        session.pop_alerts(&alerts);
        for (lt::alert* a : alerts)
            if (auto* rd = lt::alert_cast<lt::save_resume_data_alert>(a)) resume = write_resume_data_buf(rd->params);
    }
    ASSERT_FALSE(resume.empty());
    lt::error_code ec;
    lt::bdecode_node const n = lt::bdecode(resume, ec);
    ASSERT_FALSE(ec);
    EXPECT_FALSE(n.dict_find("url-list"));
    EXPECT_FALSE(n.dict_find("httpseeds"));
    engine.remove_torrent(h);

    // Read back for the same torrent: only the torrent file's source.
    lt::add_torrent_params atp = lt::read_resume_data(resume, ec);
    ASSERT_FALSE(ec);
    lt::add_torrent_params const base = params(file);
    atp.ti = base.ti;
    atp.flags |= base.flags;
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // removal is asynchronous
    torrent_handle again = engine.add_torrent(std::move(atp), file);
    EXPECT_EQ(urls_by_id(again), strings{"http://t/"});
    engine.remove_torrent(again);
}

TEST_F(DirectHttpEngine, TorrentFileSourceThenTheJobsOwn)
{
    std::vector<char> const file = torrent_bytes([](lt::entry& e) { e["url-list"] = "http://t/game"; });
    torrent_handle h = engine.add_torrent(params(file), file);
    h.add_url_seed("http://t/game");
    EXPECT_EQ(h.num_url_seeds(), 2);
    h.remove_url_seed("http://t/game");
    auto const s = h.sources();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].state, direct_http_source::removing);
    EXPECT_EQ(s[1].state, direct_http_source::idle);
}

TEST_F(DirectHttpEngine, AddingTheSameTorrentAgainReplacesItsSources)
{
    std::vector<char> const file = torrent_bytes([](lt::entry& e) { e["url-list"] = "http://t/"; });
    torrent_handle first = engine.add_torrent(params(file), file);
    first.add_url_seed("http://job/");
    lt::torrent_handle const native = first.native_handle();
    torrent_handle second = engine.add_torrent(params(file), file);
    EXPECT_EQ(second.native_handle(), native);
    EXPECT_FALSE(first.is_valid());
    EXPECT_THROW(first.num_url_seeds(), libtorrent_exception);
    EXPECT_EQ(urls_by_id(second), strings{"http://t/"});
}

TEST_F(DirectHttpEngine, WithoutFileBytesTheEnginesParseIsUsed)
{
    std::vector<char> const file = torrent_bytes([](lt::entry& e) {
        e["url-list"] = entry_list({"http://a/", "http://b/"});
        e["httpseeds"] = "http://h/";
    });
    torrent_handle h = engine.add_torrent(params(file));
    EXPECT_EQ(urls_by_id(h), (strings{"http://a/", "http://b/", "http://h/"}));
    EXPECT_TRUE(h.native_handle().url_seeds().empty());
}

TEST_F(DirectHttpEngine, ExpiredAndEmptyHandlesThrowAndChangeNothing)
{
    std::vector<char> const file = torrent_bytes();
    torrent_handle h = engine.add_torrent(params(file), file);
    h.add_url_seed("http://x/");
    torrent_handle const copy = h;
    engine.remove_torrent(h);
    engine.remove_torrent(h); // expired: nothing happens

    std::vector<peer_record> rows(3);
    rows[0].source_id = 77;
    auto expect_invalid = [](auto&& op, char const* what) {
        try {
            op();
            ADD_FAILURE() << what << " did not throw";
        } catch (libtorrent_exception const& e) {
            EXPECT_EQ(e.code(), lt::error_code(lt::errors::invalid_torrent_handle)) << what;
            EXPECT_EQ(e.code().value(), 20) << what;
            EXPECT_EQ(&e.code().category(), &lt::libtorrent_category()) << what;
            EXPECT_EQ(e.code().message(), "invalid torrent handle used") << what;
        }
    };
    for (torrent_handle const* t : {&copy, static_cast<torrent_handle const*>(nullptr)}) {
        torrent_handle const empty;
        torrent_handle const& x = t ? *t : empty;
        EXPECT_FALSE(x.is_valid());
        expect_invalid([&] { x.add_url_seed("u"); }, "add_url_seed");
        expect_invalid([&] { x.remove_url_seed("u"); }, "remove_url_seed");
        expect_invalid([&] { (void)x.num_url_seeds(); }, "num_url_seeds");
        expect_invalid([&] { x.get_peer_info(rows); }, "get_peer_info");
        expect_invalid([&] { (void)x.status(); }, "status");
        expect_invalid([&] { (void)x.native_handle(); }, "native_handle");
    }
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].source_id, 77);
}

TEST_F(DirectHttpEngine, HandleExpiresWhenTheEngineDropsTheTorrent)
{
    std::vector<char> const file = torrent_bytes();
    torrent_handle h = engine.add_torrent(params(file), file);
    session.remove_torrent(h.native_handle());
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (h.is_valid() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_THROW(h.add_url_seed("u"), libtorrent_exception);
}

TEST_F(DirectHttpEngine, PeerInfoOfASourceWithoutALiveConnection)
{
    std::vector<char> const file = torrent_bytes();
    torrent_handle h = engine.add_torrent(params(file), file);
    h.add_url_seed("http://127.0.0.1:1/never");
    std::vector<peer_record> rows(2);
    rows[0].source_id = 9;
    h.get_peer_info(rows);
    EXPECT_TRUE(rows.empty()); // never connected: no row; old rows gone
    lt::torrent_status const st = h.status();
    EXPECT_EQ(st.total_download, 0);
    EXPECT_EQ(st.num_peers, 0);
}

} // namespace
} // namespace tg
