#include <gtest/gtest.h>

#include <cwctype>

#include "md5.h"
#include "report_urls.h"
#include "reports.h"
#include "test_http_server.h"

namespace {
std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}
} // namespace

TEST(Reports, UrlTextReachesTheServerUnescapedAndRedirectIsNotFollowed)
{
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Route(R"({"path": "/r.php", "redirect": "/elsewhere"})"));
    const std::wstring address = L"127.0.0.1:" + std::to_wstring(server.Port()) + L"/r.php";
    const std::wstring outcome =
        OutcomeReportUrl(WR_STOPPED, address, L"3.0.0.2", L"GC 1&2", L"abc", 12, 34);
    EXPECT_EQ(SendReport(outcome), 1);
    const std::wstring status = StatusReportUrl(address, L"abc", L"GC 1&2", L"tollgrove.exe", REPORT_STOPPED);
    EXPECT_EQ(SendReport(status), 1);

    // The text goes to WinINet as formatted; WinINet itself sends the blank
    // as %20 (the ampersand and the angle brackets go as they are).
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u); // nothing fetched from /elsewhere
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/r.php?pd=<Tollgrove-3.0.0.2>&rs=<CANCEL;TG>&gc=<GC%201&2>&mc=<abc>&tt=<12>&ts=<34>");
    EXPECT_EQ(requests[1].target, "/r.php?mc=abc&gc=GC%201&2&file=tollgrove.exe&status=3");
    EXPECT_EQ(requests[0].Header("User-Agent"), "");
}

TEST(Reports, UnreachableAddressGivesZero)
{
    TestHttpServer gone;
    ASSERT_TRUE(gone.Start());
    const std::wstring url = gone.Url("/r.php?mc=a");
    gone.Stop();
    EXPECT_EQ(SendReport(url), 0);
    EXPECT_EQ(SendReport(L"http://?mc=a&gc=b&file=c&status=5"), 0);
}

// A report endpoint that accepts and never answers holds the attempt only
// for the report's own head time-out (10 s), the real one.
TEST(Reports, SilentEndpointIsGivenUpAtTheHeadTimeOut)
{
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Route(R"({"path": "/r.php", "silent": true})"));
    const DWORD start = GetTickCount();
    EXPECT_EQ(SendReport(server.Url("/r.php?mc=a&gc=b&file=c&status=5")), 0);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 9000u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_EQ(server.Requests().size(), 1u); // it was asked, once
}

TEST(Reports, MachineCodeIsTheMd5OfTheAddressText)
{
    EXPECT_EQ(Md5Hex(L"001A2B3C4D5E"), L"7598b725a578ee13656d280b6520f326");
    EXPECT_EQ(Md5Hex(L""), L"d41d8cd98f00b204e9800998ecf8427e");
    // Only the bytes before a zero byte count, and at most 65,535 of them.
    EXPECT_EQ(Md5Hex(std::wstring(L"abc\0def", 7)), L"900150983cd24fb0d6963f7d28e17f72");
    const std::string longText(70000, 'x');
    EXPECT_EQ(Md5Hex(std::wstring(longText.begin(), longText.end())),
              Md5HexOfBytes(reinterpret_cast<const uint8_t*>(longText.data()), 65535));

    const std::wstring mac = GetMacAddressString();
    ASSERT_TRUE(mac.empty() || mac.size() == 12u) << Narrow(mac);
    for (wchar_t c : mac)
        EXPECT_TRUE(std::iswdigit(c) || (c >= L'A' && c <= L'F')) << Narrow(mac);
    EXPECT_EQ(GetMacAddressString(), mac);
}

TEST(Reports, ExeFileNameIsTheProgramsOwnName)
{
    EXPECT_EQ(GetExeFileName(), L"test_download_win.exe");
}
