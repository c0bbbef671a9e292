// The option file's download rate limit holds for the Direct-HTTP sources
// too: one budget for peers and sources, which a source alone cannot pass.
#include "download/session_options.h"
#include "engine/direct_http_engine.hpp"
#include "engine_fixture.hpp"
#include "http_test_server.hpp"
#include "session_fixture.hpp"

#include <libtorrent/torrent_status.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <thread>

namespace tg {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t limit = 2 * 1024 * 1024;

lt::settings_pack limited_settings()
{
    // As the option file would give it.
    tollgrove::SessionOptions const options = tollgrove::ReadSessionOptions([](wchar_t const* key) -> std::int32_t {
        return std::wcscmp(key, L"set_download_rate_limit") == 0 ? limit : 0;
    });
    lt::settings_pack s = tollgrove::MakeSessionSettings(options, true);
    lt::settings_pack const loopback = test::loopback_settings();
    s.set_str(lt::settings_pack::listen_interfaces, loopback.get_str(lt::settings_pack::listen_interfaces));
    s.set_bool(lt::settings_pack::enable_dht, false);
    return s;
}

TEST(DirectHttpRateLimit, SourceAloneStaysWithinTheSessionLimit)
{
    test::temp_dir served{"served"};
    test::temp_dir leech{"leech"};
    test::http_test_server server{served.path()};
    lt::session session{test::with_file_disk_io(limited_settings())};
    ASSERT_EQ(session.get_settings().get_int(lt::settings_pack::download_rate_limit), limit);
    direct_http_engine engine{session};
    // More than 20 s at the limit could fetch.
    auto const file = test::make_torrent(served.path(), "game.bin", {{"", 64 * 1024 * 1024}}, 256 * 1024);
    torrent_handle h = test::add_with_sources(engine, file, leech.path(), {server.url("/game.bin")});
    ASSERT_TRUE(test::wait_until([&] { return h.status().total_download > 0; }, 30s));
    std::int64_t const start = h.status().total_download;
    auto const t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(20s);
    std::int64_t const got = h.status().total_download - start;
    double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double const rate = double(got) / seconds;
    EXPECT_GT(got, 0);
    EXPECT_LE(rate, 1.1 * limit) << rate / (1024 * 1024) << " MiB/s";
    EXPECT_FALSE(h.status().is_seeding);
}

} // namespace
} // namespace tg
