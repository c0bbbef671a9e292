// The download road's arithmetic and naming rules, as tables.
#include <gtest/gtest.h>

#include "attempt_outcome.h"
#include "report_urls.h"
#include "attempt_paths.h"
#include "connection_rule.h"
#include "resume_saving.h"
#include "session_options.h"
#include "text_encoding.h"
#include "torrent_placement.h"

#include <libtorrent/alert.hpp>

#include <limits>

#include <map>

using namespace tollgrove;

TEST(ConnectionRule, ClassifiesAMinuteAgainstTheThresholds)
{
    struct Case {
        std::int64_t bytes;
        std::int32_t minKb, maxKb;
        RuleVerdict expected;
    };
    const Case cases[] = {
        {100000000, 2048, 4096, RuleVerdict::slow},
        {300000000, 2048, 4096, RuleVerdict::fast},
        {200000000, 2048, 4096, RuleVerdict::steady},
        {125829120, 2048, 4096, RuleVerdict::steady}, // equal to the lower limit: strict
        {125829119, 2048, 4096, RuleVerdict::slow},
        {251658240, 2048, 4096, RuleVerdict::steady}, // equal to the upper limit: strict
        {251658241, 2048, 4096, RuleVerdict::fast},
        // 40,000 and 50,000 KB/s need 64-bit products: 2,457,600,000 and 3,072,000,000.
        {2457599999LL, 40000, 50000, RuleVerdict::slow},
        {2457600000LL, 40000, 50000, RuleVerdict::steady},
        {3072000000LL, 40000, 50000, RuleVerdict::steady},
        {3072000001LL, 40000, 50000, RuleVerdict::fast},
        {0, 2048, 4096, RuleVerdict::slow},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyMinute(c.bytes, c.minKb, c.maxKb), c.expected) << c.bytes << " " << c.minKb;
}

TEST(ConnectionRule, MinuteBytesStayRightPastFourGiB)
{
    const std::int64_t before = 5000000000LL, after = 5000000000LL + 100000000;
    EXPECT_EQ(ClassifyMinute(after - before, 2048, 4096), RuleVerdict::slow);
}

TEST(ConnectionRule, DueAfterSixtySecondsAcrossTheTickWrap)
{
    struct Case {
        std::uint32_t now, last;
        bool due;
    };
    const Case cases[] = {
        {60000, 0, true},
        {59999, 0, false},
        {0xFFFFFFFFu, 0xFFFFFFFFu - 60000, true},
        {30000, 0xFFFFFFFFu - 29999, true},   // wrapped: 60,000 ms apart
        {29999, 0xFFFFFFFFu - 29999, false},  // wrapped: 59,999 ms apart
        {5, 5, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RuleDue(c.now, c.last), c.due) << c.now << " " << c.last;
}

TEST(ResumeSaving, AtMostOnceAMinuteWhileDownloadingAndNoneInFlight)
{
    struct Case {
        const char* name;
        bool downloading, pending;
        std::uint32_t now, last;
        bool due;
    };
    const Case cases[] = {
        {"a minute after the last request", true, false, 60000, 0, true},
        {"a millisecond short of it", true, false, 59999, 0, false},
        {"long after", true, false, 3600000, 0, true},
        {"the last request still unanswered", true, true, 120000, 0, false},
        {"checking or not downloading", false, false, 120000, 0, false},
        {"across the tick wrap, 60,000 ms apart", true, false, 30000, 0xFFFFFFFFu - 29999, true},
        {"across the tick wrap, 59,999 ms apart", true, false, 29999, 0xFFFFFFFFu - 29999, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResumeSaveDue(c.downloading, c.pending, c.now, c.last), c.due) << c.name;
    EXPECT_EQ(kResumeSaveIntervalMs, 60000u);
    EXPECT_TRUE(ResumeSaveDue(true, false, 1500, 0, 1000)) << "a shorter interval of the test builds";
}

TEST(AttemptPaths, TorrentNameAndStatePaths)
{
    EXPECT_EQ(TorrentFileNameFromUrl(L"http://srv/games/demo.torrent"), L"demo.torrent");
    EXPECT_EQ(TorrentFileNameFromUrl(L"demo.torrent"), L"demo.torrent");
    EXPECT_EQ(TorrentFileNameFromUrl(L"http://srv/get?id=1/x.torrent?v=2"), L"x.torrent?v=2");
    EXPECT_EQ(TorrentFileNameFromUrl(L""), L"");

    struct Case {
        const wchar_t* torrent;
        const wchar_t* dht;
        const wchar_t* resume;
    };
    const Case cases[] = {
        {L"C:\\Games\\Demo\\demo.torrent", L"C:\\Games\\Demo\\demo.dhtstate", L"C:\\Games\\Demo\\demo.resume"},
        {L"C:\\My.Games\\demo", L"C:\\My.dhtstate", L"C:\\My.resume"},
        {L"C:\\Games\\demo", L".dhtstate", L".resume"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StatePathFor(c.torrent, L".dhtstate"), c.dht);
        EXPECT_EQ(StatePathFor(c.torrent, L".resume"), c.resume);
    }
}

TEST(AttemptOutcome, TotalsAndWriteBackByResult)
{
    // A first attempt stopped after 100 s and 5,000 bytes reports its own...
    auto stopped = PlanTotals(WR_STOPPED, 100, 5000, 0, 0);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->seconds, 100u);
    EXPECT_EQ(stopped->bytes, 5000u);
    EXPECT_TRUE(stopped->writeBack);
    // ...then a second that completes after 50 s and 7,000 bytes reports the sums.
    auto done = PlanTotals(WR_COMPLETED, 50, 7000, std::int32_t(stopped->totalSeconds),
        std::int32_t(stopped->totalBytes));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->seconds, 150u);
    EXPECT_EQ(done->bytes, 12000u);
    EXPECT_FALSE(done->writeBack);

    auto failed = PlanTotals(WR_FAILED, 1, 2, 10, 20);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->seconds, 11u);
    EXPECT_FALSE(failed->writeBack);
    // After an exception the session's bytes are unknown (0): ts is the earlier total.
    auto exc = PlanTotals(WR_EXCEPTION, 3, 0, 10, 20);
    ASSERT_TRUE(exc);
    EXPECT_EQ(exc->bytes, 20u);
    EXPECT_FALSE(PlanTotals(WR_TORRENT_FETCH_FAILED, 1, 1, 0, 0));
    EXPECT_FALSE(PlanTotals(0, 1, 1, 0, 0));
}

TEST(AttemptOutcome, ElapsedTimeFromTheMillisecondTickAcrossItsWrap)
{
    const struct {
        const char* name;
        std::uint32_t start, end, seconds;
    } cases[] = {
        {"under a second counts one", 100, 999, 1},
        {"equal readings count one", 5000, 5000, 1},
        {"ninety seconds", 1000, 91000, 90},
        // 49.7 days after the system started the tick count starts again at 0.
        {"across the wrap", 0xFFFFFFFFu - 1499, 2500, 4},
        {"an hour across the wrap", 0xFFFFFFFFu - 1799999, 1800000, 3600},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ElapsedSeconds(c.start, c.end), c.seconds) << c.name;
}

TEST(AttemptOutcome, TotalsWrapIn32BitsAndPrintSigned)
{
    // A stopped attempt past 2 GiB: the configuration file gets the total
    // as a negative "%d", the report the same bits unsigned.
    auto o = PlanTotals(WR_STOPPED, 1, 0x80000000u, 0, 0);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->totalBytes, 2147483648u);
    EXPECT_EQ(std::to_wstring(static_cast<std::int32_t>(o->totalBytes)), L"-2147483648");
    const std::wstring report = OutcomeReportUrl(WR_STOPPED, L"r/x", L"3.0.0.2", L"G", L"M", o->seconds, o->bytes);
    EXPECT_NE(report.find(L"&ts=<2147483648>"), std::wstring::npos) << report;
    // The next attempt reads the negative total back and adds to it.
    auto next = PlanTotals(WR_COMPLETED, 1, 5, static_cast<std::int32_t>(o->totalSeconds),
        static_cast<std::int32_t>(o->totalBytes));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->bytes, 2147483653u);
    auto wrapped = PlanTotals(WR_COMPLETED, 1, 0xFFFFFFFFu, 0, 2);
    EXPECT_EQ(wrapped->totalBytes, 1u);
}

TEST(TorrentPlacement, FilesLandDirectlyInTheInstallFolder)
{
    EXPECT_EQ(PlacedFilePath(L"D:\\Games\\Demo", L"Demo/readme.txt"), L"D:\\Games\\Demo/readme.txt");
    EXPECT_EQ(PlacedFilePath(L"D:\\Games\\Demo", L"Demo/data/a.pak"), L"D:\\Games\\Demo/data/a.pak");
    EXPECT_EQ(PlacedFilePath(L"D:\\Games\\Demo", L"Demo\\data\\a.pak"), L"D:\\Games\\Demo\\data\\a.pak");
    EXPECT_FALSE(PlacedFilePath(L"D:\\Games\\Demo", L"demo.iso"));
}

TEST(TorrentPlacement, FirstSourceUrl)
{
    EXPECT_EQ(FirstSourceUrl(L"srv/game/demo.iso", 1), L"http://srv/game/demo.iso");
    EXPECT_EQ(FirstSourceUrl(L"http://srv/game/Demo/index", 3), L"http://srv/game/Demo/");
    EXPECT_EQ(FirstSourceUrl(L"nohost", 2), L"");
}

// The engine and our loader take UTF-8 paths: a Vietnamese folder has no
// single-byte form, and the limit counts UTF-16 units as Windows does.
TEST(TorrentPlacement, NarrowPathsAreUtf8WithinWindowsLimit)
{
    const std::wstring vietnamese = L"C:\\Tr\u00f2 ch\u01a1i\\\u0110\u00e0 N\u1eb5ng";
    const struct {
        const char* name;
        std::wstring path;
        std::string narrow;
    } cases[] = {
        {"ASCII as it is", L"C:\\Games\\demo.torrent", "C:\\Games\\demo.torrent"},
        {"Latin-1", L"C:\\Caf\u00e9", "C:\\Caf\xc3\xa9"},
        {"Vietnamese", vietnamese + L"\\demo.resume",
            "C:\\Tr\xc3\xb2 ch\xc6\xa1i\\\xc4\x90\xc3\xa0 N\xe1\xba\xb5ng\\demo.resume"},
        {"259 units", std::wstring(259, L'a'), std::string(259, 'a')},
        {"260 units", std::wstring(260, L'a'), ""},
        // 259 letters of three UTF-8 bytes each: far over 259 bytes, still
        // a path Windows opens.
        {"259 units of three bytes", std::wstring(259, L'\u1eb5'), [] {
             std::string s;
             for (int i = 0; i < 259; ++i)
                 s += "\xe1\xba\xb5";
             return s;
         }()},
        {"260 units of three bytes", std::wstring(260, L'\u1eb5'), ""},
        {"empty", L"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NarrowForEngine(c.path), c.narrow) << c.name;
    // A character beyond U+FFFF takes two units, as in a Windows path.
    std::wstring pair = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)} : std::wstring(1, wchar_t(0x1F600));
    std::wstring nearLimit(257, L'a');
    EXPECT_EQ(NarrowForEngine(nearLimit + pair), std::string(257, 'a') + "\xf0\x9f\x98\x80");
    EXPECT_EQ(NarrowForEngine(nearLimit + L"a" + pair), "");
}

// A source URL goes into the request line: bytes outside ASCII are
// percent-encoded UTF-8, everything ASCII stays byte for byte.
TEST(TorrentPlacement, NarrowUrlsPercentEncodeOnlyWhatIsNotAscii)
{
    const struct {
        const char* name;
        std::wstring url;
        std::string narrow;
    } cases[] = {
        {"ASCII as it is", L"http://srv:8080/game/Demo/?a=1&b=%20 x#f", "http://srv:8080/game/Demo/?a=1&b=%20 x#f"},
        {"Vietnamese path", L"http://srv/\u0110\u00e0N\u1eb5ng.pak", "http://srv/%C4%90%C3%A0N%E1%BA%B5ng.pak"},
        {"Latin-1 host", L"caf\u00e9.vn/a", "caf%C3%A9.vn/a"},
        {"259 units", L"http://" + std::wstring(252, L'\u00e0'), "http://" + [] {
             std::string s;
             for (int i = 0; i < 252; ++i)
                 s += "%C3%A0";
             return s;
         }()},
        {"260 units", L"http://" + std::wstring(253, L'a'), ""},
        {"empty", L"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NarrowUrlForEngine(c.url), c.narrow) << c.name;
}

TEST(TorrentPlacement, Utf8RoundTrip)
{
    const std::wstring text = L"\u0110\u00e0 N\u1eb5ng/data/a.pak";
    EXPECT_EQ(ToUtf8(text), "\xc4\x90\xc3\xa0 N\xe1\xba\xb5ng/data/a.pak");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("a\xff" "b"), L"a\xFFFD" L"b");
}

TEST(TextEncoding, LoneSurrogatesBecomeTheReplacementMark)
{
    // Only a build whose wchar_t is 16 bits meets surrogates in its text;
    // in either build a lone one must not turn into invalid UTF-8.
    const std::wstring replacement = L"\xFFFD";
    const struct {
        const char* name;
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {"a high one at the end", std::wstring(L"a") + wchar_t(0xD83D), "a\xef\xbf\xbd"},
        {"a low one alone", std::wstring(L"a") + wchar_t(0xDE00) + L"b", "a\xef\xbf\xbd" "b"},
        {"a high one before a letter", std::wstring(1, wchar_t(0xD83D)) + L"x", "\xef\xbf\xbd" "x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUtf8(c.text), c.utf8) << c.name;
        EXPECT_NE(FromUtf8(ToUtf8(c.text)).find(replacement), std::wstring::npos) << c.name;
    }
    if (sizeof(wchar_t) == 2) { // a pair is still one character
        EXPECT_EQ(ToUtf8(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}), "\xf0\x9f\x98\x80");
    }
}

TEST(SessionOptions, MissingFileGivesDefaultsAndKeysFollowTheZeroRule)
{
    const SessionOptions d = ReadSessionOptions(nullptr);
    EXPECT_EQ(d.limits.listenPort, 22000);
    EXPECT_EQ(d.limits.downloadRateLimit, -1);
    EXPECT_EQ(d.shareRatioLimit, 9999.0);

    std::map<std::wstring, std::int32_t> ini = {
        {L"PortListen", 30000}, {L"set_download_rate_limit", 0}, {L"set_upload_rate_limit", -5},
        {L"share_ratio_limit", 3}, {L"peer_timeout", -7}, {L"set_max_conections", 80}};
    const SessionOptions o = ReadSessionOptions([&](const wchar_t* key) {
        auto it = ini.find(key);
        return it == ini.end() ? 0 : it->second;
    });
    EXPECT_EQ(o.limits.listenPort, 30000);
    EXPECT_EQ(o.limits.downloadRateLimit, -1); // 0 means the default
    EXPECT_EQ(o.limits.uploadRateLimit, -5);   // negatives are used as written
    EXPECT_EQ(o.shareRatioLimit, 3.0);
    EXPECT_EQ(o.peerTimeout, -7);
    EXPECT_EQ(o.limits.maxConnections, 80);
    EXPECT_EQ(o.requestTimeout, 60);

    const lt::settings_pack s = MakeSessionSettings(o, false);
    EXPECT_EQ(s.get_str(lt::settings_pack::listen_interfaces), "0.0.0.0:30000");
    EXPECT_EQ(s.get_int(lt::settings_pack::max_retry_port_bind), 10);
    EXPECT_EQ(s.get_str(lt::settings_pack::user_agent), "Tollgrove 3.0");
    EXPECT_EQ(s.get_int(lt::settings_pack::download_rate_limit), 0);
    EXPECT_EQ(s.get_int(lt::settings_pack::upload_rate_limit), 0);
    EXPECT_EQ(s.get_int(lt::settings_pack::share_ratio_limit), 300);
    EXPECT_EQ(s.get_int(lt::settings_pack::connections_limit), 80);
    EXPECT_EQ(s.get_str(lt::settings_pack::peer_fingerprint), "-LT0F00-");
    EXPECT_EQ(s.get_int(lt::settings_pack::alert_mask), int(lt::alert_category::storage));
    // The routers stay at 22000 whatever the listen port.
    const std::string nodes = s.get_str(lt::settings_pack::dht_bootstrap_nodes);
    EXPECT_NE(nodes.find(":22000"), std::string::npos);
    EXPECT_EQ(nodes.find(":30000"), std::string::npos);
    EXPECT_EQ(EngineRatio(1e12), std::numeric_limits<int>::max());
}
