// Direct-HTTP sources and the engine's tracker announces over TLS on
// 127.0.0.1, against our scriptable server with the run's test
// certificates: downloads that complete, redirects between http and https,
// and servers that cannot prove who they are, which get no request at all.
#include "engine/direct_http_engine.hpp"
#include "engine_fixture.hpp"
#include "http_test_server.hpp"
#include "session_fixture.hpp"
#include "tls_test_certs.hpp"

#include <libtorrent/alert_types.hpp>
#include <libtorrent/torrent_status.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace tg {
namespace {

using namespace std::chrono_literals;

using test::wait_until;

class DirectHttpTls : public ::testing::Test
{
protected:
    // Before any session or component makes its TLS context.
    static void SetUpTestSuite() { ASSERT_TRUE(test::trust_test_ca()); }

    test::temp_dir served{"served"};
    test::temp_dir leech{"leech"};
    test::http_test_server tls{served.path(), test::test_identity("server")};
    test::recorded_log log;
    lt::session session{test::with_file_disk_io(settings())};
    direct_http_engine engine{session};

    static lt::settings_pack settings()
    {
        lt::settings_pack s = test::loopback_settings();
        s.set_int(lt::settings_pack::urlseed_wait_retry, 0);
        return s;
    }

    void SetUp() override { log.attach(engine); }

    torrent_handle add(std::vector<char> const& file, std::vector<std::string> const& urls)
    {
        return test::add_with_sources(engine, file, leech.path(), urls);
    }
    bool complete(torrent_handle const& h) { return wait_until([&] { return h.status().is_seeding; }, 60s); }
    void expect_same_files(std::string const& rel)
    {
        EXPECT_EQ(test::read_file(leech / rel), test::read_file(served / rel)) << rel;
    }
    std::vector<std::string> log_lines() const { return log.lines(); }
    std::string log_text() const { return log.text(); }
};

TEST_F(DirectHttpTls, MultiFileGameFromTwoConnections)
{
    auto const file = test::make_torrent(served.path(), "Game",
        {{"data/a b.pak", 700001}, {"c.bin", 5}, {"sub/d.bin", 900003}}, 64 * 1024);
    torrent_handle h = add(file, {tls.url("/"), tls.url("/")});
    ASSERT_TRUE(complete(h)) << log_text();
    expect_same_files("Game/data/a b.pak");
    expect_same_files("Game/c.bin");
    expect_same_files("Game/sub/d.bin");
    EXPECT_EQ(tls.failed_handshakes(), 0);
    // Both sources connected, and only the game's files were asked for.
    auto const reqs = tls.requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_GE(tls.connections(), 2) << log_text();
    for (auto const& r : reqs)
        EXPECT_TRUE(r.target == "/Game/data/a%20b.pak" || r.target == "/Game/c.bin" || r.target == "/Game/sub/d.bin")
            << r.target;
    lt::torrent_status const st = h.status();
    EXPECT_GE(st.total_payload_download, st.total_wanted);
}

TEST_F(DirectHttpTls, HttpRedirectedToHttpsCompletes)
{
    auto const file = test::make_torrent(served.path(), "Game", {{"a.bin", 300001}, {"c d.bin", 200000}}, 32 * 1024);
    test::http_test_server plain{served.path()};
    std::string const https_base = tls.url("");
    plain.set_script([https_base](test::http_request const& r) -> std::optional<std::vector<std::string>> {
        return std::vector<std::string>{
            test::http_test_server::status(301, "Moved Permanently", "Location: " + https_base + r.target + "\r\n")};
    });
    torrent_handle h = add(file, {plain.url("/")});
    ASSERT_TRUE(complete(h)) << log_text();
    expect_same_files("Game/a.bin");
    expect_same_files("Game/c d.bin");
    auto const s = h.sources();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].url, tls.url("/"));
    EXPECT_FALSE(tls.requests().empty());
    // Retiring goes by the URL the source was added with.
    h.remove_url_seed(plain.url("/"));
    EXPECT_EQ(h.sources()[0].state, direct_http_source::removing);
}

TEST_F(DirectHttpTls, ServersThatCannotProveWhoTheyAreGetNoRequest)
{
    struct row
    {
        char const* identity;
        char const* reason;
    } const rows[] = {
        {"untrusted", "certificate verify failed: unable to get local issuer certificate"},
        // For another host's name only; the URL names an address.
        {"wrong-host", "certificate verify failed: IP address mismatch"},
        {"expired", "certificate verify failed: certificate has expired"},
    };
    for (auto const& r : rows) {
        test::http_test_server bad{served.path(), test::test_identity(r.identity)};
        auto const file = test::make_torrent(served.path(), std::string("g-") + r.identity + ".bin", {{"", 100000}}, 32 * 1024);
        std::size_t const lines_before = log_lines().size();
        torrent_handle h = add(file, {bad.url("/g.bin"), bad.url("/g.bin")});
        EXPECT_TRUE(wait_until([&] { return h.num_url_seeds() == 0; }, 30s)) << r.identity << "\n" << log_text();
        // Every connection the server took ended in its handshake (the
        // server learns of the refusal a moment after the client).
        EXPECT_TRUE(wait_until([&] { return bad.connections() >= 1 && bad.failed_handshakes() == bad.connections(); }, 10s))
            << r.identity;
        EXPECT_TRUE(bad.requests().empty()) << r.identity;
        // One line for the URL, whatever number of its connections ended.
        auto const lines = log_lines();
        std::vector<std::string> const added(lines.begin() + std::ptrdiff_t(lines_before), lines.end());
        ASSERT_EQ(added.size(), 1u) << r.identity << "\n" << log_text();
        EXPECT_NE(added[0].find(std::string("given up for 10 minutes: TLS: ") + r.reason), std::string::npos)
            << added[0];
        // The URL waits: a source added for it again does not connect.
        h.add_url_seed(bad.url("/g.bin"));
        engine.run_pass();
        engine.run_pass();
        EXPECT_EQ(h.sources().at(0).state, direct_http_source::retry_wait) << r.identity;
        engine.remove_torrent(h);
    }
}

TEST_F(DirectHttpTls, BodyCutWithoutCloseNotifyIsFetchedAgain)
{
    auto const file = test::make_torrent(served.path(), "game.bin", {{"", 300000}}, 32 * 1024);
    // The first answer stops halfway through its body, then the server cuts
    // the TCP connection without ending TLS.
    tls.set_script([&](test::http_request const& r) -> std::optional<std::vector<std::string>> {
        if (r.index != 0) return std::nullopt;
        std::string const whole = tls.serve(r);
        return std::vector<std::string>{whole.substr(0, whole.size() - 10000), test::http_test_server::cut};
    });
    torrent_handle h = add(file, {tls.url("/game.bin")});
    ASSERT_TRUE(complete(h)) << log_text();
    expect_same_files("game.bin");
    auto const reqs = tls.requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs[0].range, "bytes=0-32767");
    EXPECT_GE(std::count_if(reqs.begin(), reqs.end(), [](auto const& q) { return q.range == "bytes=0-32767"; }), 2);
    EXPECT_NE(log_text().find("stream truncated"), std::string::npos) << log_text();
}

// The engine's own TLS: an https tracker is announced to when its
// certificate checks out, and never asked when it does not.
TEST_F(DirectHttpTls, HttpsTrackerAnnouncesOnlyWithTrustedCertificate)
{
    for (char const* identity : {"server", "untrusted"}) {
        test::http_test_server tracker{served.path(), test::test_identity(identity)};
        tracker.set_script([](test::http_request const&) -> std::optional<std::vector<std::string>> {
            std::string const body = "d8:intervali1800e5:peers0:e";
            return std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size())
                + "\r\n\r\n" + body};
        });
        std::string const announce = tracker.url("/announce");
        auto const file = test::make_torrent(served.path(), std::string("t-") + identity + ".bin", {{"", 50000}},
            32 * 1024, [&](lt::entry& e) { e["announce"] = announce; });
        torrent_handle h = add(file, {});
        bool const trusted = std::string(identity) == "server";
        EXPECT_TRUE(wait_until([&] { return trusted ? !tracker.requests().empty() : tracker.failed_handshakes() > 0; }, 60s))
            << identity;
        if (trusted) {
            EXPECT_EQ(tracker.requests()[0].target.compare(0, 10, "/announce?"), 0) << tracker.requests()[0].target;
        } else {
            EXPECT_TRUE(tracker.requests().empty());
        }
        engine.remove_torrent(h);
    }
}

} // namespace
} // namespace tg
