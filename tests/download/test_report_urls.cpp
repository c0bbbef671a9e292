#include <gtest/gtest.h>

#include "config_rules.h"
#include "report_urls.h"

TEST(ReportUrls, StatusReportCarriesMachineCodeBeforeGameCode)
{
    EXPECT_EQ(StatusReportUrl(L"rep.example/r.php", L"0123abcd", L"G 1&x", L"tollgrove.exe",
                              REPORT_STARTED),
              L"http://rep.example/r.php?mc=0123abcd&gc=G 1&x&file=tollgrove.exe&status=5");
}

TEST(ReportUrls, OutcomeFormsByResult)
{
    const std::pair<int32_t, const wchar_t*> words[] = {
        {WR_COMPLETED, L"OK"}, {WR_FAILED, L"FAILED"}, {WR_EXCEPTION, L"EXCEPTION"}, {WR_STOPPED, L"CANCEL"}};
    for (const auto& w : words) {
        EXPECT_EQ(OutcomeReportUrl(w.first, L"rep.example/r", L"3.0.0.2", L"GC", L"mc5", 4000000000u, 7),
                  std::wstring(L"http://rep.example/r?pd=<Tollgrove-3.0.0.2>&rs=<") + w.second +
                      L";TG>&gc=<GC>&mc=<mc5>&tt=<4000000000>&ts=<7>");
    }
    EXPECT_EQ(OutcomeReportUrl(WR_TORRENT_FETCH_FAILED, L"a", L"v", L"g", L"m", 0, 0), L"");
    EXPECT_EQ(ReportStatusFor(WR_COMPLETED), REPORT_COMPLETED);
    EXPECT_EQ(ReportStatusFor(WR_FAILED), REPORT_FAILED);
    EXPECT_EQ(ReportStatusFor(WR_EXCEPTION), REPORT_EXCEPTION);
    EXPECT_EQ(ReportStatusFor(WR_STOPPED), REPORT_STOPPED);
}

TEST(ReportUrls, AddressWithAndWithoutSchemeGiveTheSameUrl)
{
    EXPECT_EQ(StatusReportUrl(StripHttpScheme(L"HTTP://rep.example/r"), L"m", L"g", L"f", 3),
              StatusReportUrl(StripHttpScheme(L"rep.example/r"), L"m", L"g", L"f", 3));
    // An empty address puts "?" right after the scheme.
    EXPECT_EQ(StatusReportUrl(L"", L"m", L"g", L"f", 1), L"http://?mc=m&gc=g&file=f&status=1");
}
