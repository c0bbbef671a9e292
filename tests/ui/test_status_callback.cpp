// CStatusCallback against a real progress bar and label (needs a display).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>
#include <thread>

#include "../support/pump_until.h"
#include "resource.h"
#include "status_callback.h"

namespace {

int g_setPos = 0;
int g_setText = 0;
WNDPROC g_barProc = nullptr;
WNDPROC g_labelProc = nullptr;

LRESULT CALLBACK CountingBar(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == PBM_SETPOS)
        ++g_setPos;
    return CallWindowProcW(g_barProc, h, m, w, l);
}

LRESULT CALLBACK CountingLabel(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_SETTEXT)
        ++g_setText;
    return CallWindowProcW(g_labelProc, h, m, w, l);
}

// A stand-in owner: a window with the main dialog's bar and percent label.
class OwnerWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr,
                                nullptr, nullptr, nullptr);
        ASSERT_NE(owner, nullptr) << "no window (is there a display?)";
        bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 200, 20, owner,
                              reinterpret_cast<HMENU>(IDC_PROGRESS), nullptr, nullptr);
        label = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 30, 200, 20, owner,
                                reinterpret_cast<HMENU>(IDC_TXT_PERCENT), nullptr, nullptr);
        ASSERT_NE(bar, nullptr);
        ASSERT_NE(label, nullptr);
        SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        g_barProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBar)));
        g_labelProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingLabel)));
        g_setPos = g_setText = 0;
        ownerWnd.m_hWnd = owner; // names the window, owns nothing
        sink.m_pOwner = &ownerWnd;
    }
    void TearDown() override
    {
        ownerWnd.m_hWnd = nullptr;
        if (owner)
            DestroyWindow(owner);
    }
    int Pos() const { return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)); }
    std::wstring Text() const
    {
        wchar_t buf[64] = {};
        GetWindowTextW(label, buf, 64);
        return buf;
    }

    HWND owner = nullptr, bar = nullptr, label = nullptr;
    CWnd ownerWnd;
    CStatusCallback sink;
};

} // namespace

TEST_F(OwnerWindow, PercentagesRedrawOnlyWhenTheyChange)
{
    EXPECT_TRUE(sink.OnProgress(1, 3));
    EXPECT_EQ(Pos(), 33);
    EXPECT_EQ(Text(), L"33 %");
    EXPECT_TRUE(sink.OnProgress(1, 3));
    EXPECT_TRUE(sink.OnProgress(100, 300));
    EXPECT_EQ(g_setPos, 1);
    EXPECT_EQ(g_setText, 1);

    EXPECT_TRUE(sink.OnProgress(3000000000u, 4000000000u));
    EXPECT_EQ(Pos(), 75);
    EXPECT_EQ(Text(), L"75 %");
    EXPECT_TRUE(sink.OnProgress(1000, 1000));
    EXPECT_EQ(Text(), L"100 %");
    EXPECT_TRUE(sink.OnProgress(3, 2)); // above the total: the label as computed, the bar at its top
    EXPECT_EQ(Text(), L"150 %");
    EXPECT_EQ(Pos(), 100);
    EXPECT_EQ(sink.m_nLastPercent, 150);
    EXPECT_TRUE(sink.Notify(12345));
}

TEST_F(OwnerWindow, ResetReportKeepsTheRememberedPercentage)
{
    sink.OnProgress(1, 3);
    EXPECT_TRUE(sink.OnProgress(0, 0));
    EXPECT_EQ(Pos(), 0);
    EXPECT_EQ(Text(), L"0 %");
    EXPECT_EQ(sink.m_nLastPercent, 33);
    sink.OnProgress(1, 3); // the same as remembered: stays at 0 until it changes
    EXPECT_EQ(Pos(), 0);
    EXPECT_EQ(Text(), L"0 %");
    sink.OnProgress(2, 3);
    EXPECT_EQ(Pos(), 66);
    EXPECT_EQ(Text(), L"66 %");
}

TEST_F(OwnerWindow, ReportsFromAWorkerThreadReachTheOwnersThread)
{
    std::atomic<bool> finished{false};
    bool allTrue = true;
    std::thread worker([&] {
        for (uint32_t done = 0; done <= 1000; done += 10)
            allTrue = sink.OnProgress(done, 1000) && allTrue;
        finished = true;
    });
    // The worker's sends wait for this thread: pump until it has ended.
    EXPECT_TRUE(tg::test::pump_until([&] { return finished.load(); }, std::chrono::seconds(60)));
    worker.join();
    EXPECT_TRUE(allTrue);
    EXPECT_EQ(Pos(), 100);
    EXPECT_EQ(Text(), L"100 %");
    EXPECT_EQ(g_setPos, 100); // 1 % .. 100 %: once each
}

TEST(StatusCallback, WithoutOwnerDoesNothingAndGoesOn)
{
    CStatusCallback sink;
    EXPECT_TRUE(sink.OnProgress(1, 2));
    EXPECT_EQ(sink.m_nLastPercent, 0);
}
