// The main window's shell on the program's own dialog resource: every control
// of the window with its id, class, text, style and place, the list's columns
// and the status bar's panes, and the Enter/Escape/close/minimise/tray rules.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <boost/asio/ip/address.hpp>

#include <atomic>
#include <memory>
#include <type_traits>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"
#include "dialog_driver.h"
#include "download/support_routines.h"
#include "scripted_main_dlg.h"

namespace {

std::wstring ClassOf(HWND h)
{
    wchar_t name[64] = {};
    ::GetClassNameW(h, name, 64);
    return name;
}

struct ExpectedControl
{
    int id;
    const wchar_t* cls;
    const wchar_t* text;
    RECT dlu; // x, y, width, height in dialog units (stored as left, top, right, bottom below)
};

// In tab order.
const ExpectedControl kControls[] = {
    {IDC_BTN_EXIT, L"Button", L"Thoát ra", {210, 103, 42, 17}},
    {IDC_PROGRESS, L"msctls_progress32", L"", {6, 47, 290, 11}},
    {IDC_BTN_ACTION, L"Button", L"Thử lại", {165, 103, 42, 17}},
    {IDC_STATIC, L"Static", L"Tổng dung lượng tải:", {7, 88, 68, 8}},
    {IDC_STATIC, L"Static", L"Tốc độ tải hiện tại:", {166, 77, 60, 8}},
    {IDC_STATIC, L"Static", L"Thời gian tải còn lại:", {166, 88, 64, 8}},
    {IDC_TXT_PERCENT, L"Static", L"0.00 %", {236, 66, 48, 8}},
    {IDC_TXT_SPEED, L"Static", L"Đang cập nhật", {236, 77, 48, 8}},
    {IDC_TXT_TIME_LEFT, L"Static", L"Đang cập nhật", {236, 88, 48, 8}},
    {IDC_STATIC, L"Static", L"Dung lượng đã tải:", {7, 77, 60, 8}},
    {IDC_TXT_DOWNLOADED, L"Static", L"Đang cập nhật", {80, 77, 48, 8}},
    {IDC_TXT_DETAIL, L"Static", L"Đang kết nối tới máy chủ...", {7, 16, 289, 8}},
    {IDC_TXT_TOTAL_SIZE, L"Static", L"Đang cập nhật", {80, 88, 48, 8}},
    {IDC_TXT_HINT, L"Static", L"Vui lòng chờ đợi trong giây lát...", {7, 32, 289, 8}},
    {IDC_BTN_TOGGLE, L"Button", L"Thu nhỏ", {254, 103, 42, 17}},
    {IDC_PEER_LIST, L"SysListView32", L"", {5, 139, 291, 166}},
    {IDC_STATIC, L"Static", L"Giao thức đang tải:", {7, 66, 62, 8}},
    {IDC_TXT_PROTOCOL, L"Static", L"P2P+HTTP", {80, 66, 48, 8}},
    {IDC_STATIC, L"Static", L"Tollgrove © 2014 Korvane Corp.", {7, 127, 102, 8}},
    {IDC_STATIC, L"Static", L"Phần trăm tiến độ:", {166, 66, 60, 8}},
    {IDC_TXT_HEADLINE, L"Static", L"Đang tải dữ liệu...", {7, 2, 289, 8}},
    {IDC_PICTURE, L"Static", L"", {6, 103, 20, 20}},
};

TEST(MainDialogShell, CarriesEveryControlAndSetsUpListAndStatusBar)
{
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
        if (WaitingForTheFirstAttempt(d))
            return;
        EXPECT_EQ(d.GetWindowText(), L"Tollgrove 3.0");
        EXPECT_NE(d.SendMessage(WM_GETICON, ICON_BIG), 0);
        DWORD style = d.GetStyle();
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_POPUP),
                  static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_POPUP));
        EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
        EXPECT_TRUE(d.GetExStyle() & WS_EX_APPWINDOW);

        std::vector<HWND> children;
        for (HWND h = ::GetWindow(d.m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
            if (::GetDlgCtrlID(h) != AFX_IDW_STATUS_BAR)
                children.push_back(h);
        }
        ASSERT_EQ(children.size(), std::size(kControls));
        for (size_t i = 0; i < children.size(); ++i) {
            const ExpectedControl& e = kControls[i];
            HWND h = children[i];
            CWnd w(h);
            SCOPED_TRACE(testing::Message() << "control " << i << " id " << e.id);
            EXPECT_EQ(::GetDlgCtrlID(h), e.id);
            EXPECT_EQ(ClassOf(h), e.cls);
            ASSERT_LT(i, d.templateTexts.size());
            EXPECT_EQ(d.templateTexts[i], e.text);
            DWORD s = w.GetStyle();
            DWORD want = 0, mask = 0;
            if (std::wstring(e.cls) == L"Button") {
                mask = BS_TYPEMASK | WS_TABSTOP;
                want = BS_PUSHBUTTON | WS_TABSTOP;
            } else if (e.id == IDC_PICTURE) {
                mask = SS_TYPEMASK;
                want = SS_BLACKRECT;
            } else if (e.id == IDC_PEER_LIST) {
                mask = LVS_TYPEMASK | LVS_SINGLESEL | LVS_ALIGNMASK;
                want = LVS_REPORT | LVS_SINGLESEL | LVS_ALIGNLEFT;
                // The dialog manager draws a template's border as a sunken edge.
                EXPECT_TRUE((s & WS_BORDER) || (w.GetExStyle() & WS_EX_CLIENTEDGE));
            } else if (std::wstring(e.cls) == L"Static") {
                mask = SS_TYPEMASK;
                want = SS_LEFT;
            }
            EXPECT_EQ(s & mask, want);
            if (e.id == IDC_PICTURE)
                continue; // the picture control places and sizes itself
            // The dialog manager converts the place and the size apart.
            RECT place = {e.dlu.left, e.dlu.top, e.dlu.right, e.dlu.bottom};
            ::MapDialogRect(d.m_hWnd, &place);
            RECT expected = {place.left, place.top, place.left + place.right, place.top + place.bottom};
            RECT actual;
            w.GetWindowRect(&actual);
            ::MapWindowPoints(nullptr, d.m_hWnd, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_EQ(actual.left, expected.left);
            EXPECT_EQ(actual.top, expected.top);
            EXPECT_EQ(actual.right, expected.right);
            EXPECT_EQ(actual.bottom, expected.bottom);
        }

        // Bound controls.
        EXPECT_EQ(d.m_progress.m_hWnd, d.GetDlgItem(IDC_PROGRESS).m_hWnd);
        EXPECT_EQ(d.m_peerList.m_hWnd, d.GetDlgItem(IDC_PEER_LIST).m_hWnd);
        EXPECT_EQ(d.m_picture.m_hWnd, d.GetDlgItem(IDC_PICTURE).m_hWnd);
        int lo = -1, hi = -1;
        d.m_progress.GetRange(lo, hi);
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 100);
        EXPECT_EQ(d.m_progress.GetPos(), 0);

        // The list's five columns.
        EXPECT_TRUE(d.m_peerList.GetExtendedStyle() & LVS_EX_FULLROWSELECT);
        const std::pair<const wchar_t*, int> columns[] = {
            {L"Địa chỉ", 95}, {L"Tốc độ", 75}, {L"Dung lượng", 70}, {L"Máy khách", 95}, {L"Trạng thái", 80}};
        ASSERT_EQ(d.m_peerList.GetColumnCount(), 5);
        for (int i = 0; i < 5; ++i) {
            wchar_t heading[64] = {};
            LVCOLUMNW col = {};
            col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            col.pszText = heading;
            col.cchTextMax = 64;
            ASSERT_TRUE(d.m_peerList.SendMessage(LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
            EXPECT_STREQ(heading, columns[i].first);
            EXPECT_EQ(col.cx, columns[i].second);
            EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        }

        // The status bar: four panes with the indicator strings, along the
        // bottom, the last one stretched to the edge.
        CStatusBar& bar = d.m_statusBar;
        ASSERT_NE(bar.m_hWnd, nullptr);
        EXPECT_EQ(bar.GetDlgCtrlID(), AFX_IDW_STATUS_BAR);
        ASSERT_EQ(bar.GetCount(), 4);
        EXPECT_EQ(bar.GetPaneText(0), L"0");
        EXPECT_EQ(bar.GetPaneText(1), L"0 - 0 - 0");
        EXPECT_EQ(bar.GetPaneText(2), L"0.00 KB/s - 0.00 KB/s");
        EXPECT_EQ(bar.GetPaneText(3), L"0.00 MB - 0.00 MB");
        int edges[4] = {};
        ASSERT_EQ(bar.SendMessage(SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 4);
        RECT barClient;
        bar.GetClientRect(&barClient);
        EXPECT_EQ(edges[0], 45);
        EXPECT_EQ(edges[1], 135);
        EXPECT_EQ(edges[2], 285);
        EXPECT_EQ(edges[3], barClient.right);
        RECT client, barRect;
        d.GetClientRect(&client);
        bar.GetWindowRect(&barRect);
        POINT corner = {barRect.right, barRect.bottom};
        d.ScreenToClient(&corner);
        EXPECT_EQ(corner.y, client.bottom);

        EXPECT_TRUE(d.m_bExpanded);
        EXPECT_EQ(d.m_trayData.cbSize, sizeof(void*) == 4 ? 952u : 968u);
        EXPECT_STREQ(d.m_trayData.szInfo, L"Chương trình đang hoạt động.");
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(MainDialogShell, EnterIsIgnoredCloseAndMinimiseHideIntoTheTray)
{
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
        if (WaitingForTheFirstAttempt(d))
            return;
        // Each step runs from the loop after the previous one's messages.
        HWND list = d.m_peerList.m_hWnd;
        switch (d.step++) {
        case 0:
            ::SetFocus(list);
            ::PostMessageW(list, WM_KEYDOWN, VK_RETURN, 1);
            break;
        case 1:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // Enter: still shown
            ::PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
            break;
        case 2:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // Escape: hidden
            EXPECT_EQ(d.SendMessage(WM_TRAY_NOTIFY, 0, WM_RBUTTONDOWN), 1);
            break;
        case 3:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // right button: still hidden
            EXPECT_EQ(d.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN), 1);
            break;
        case 4:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // left button: shown
            d.PostMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
            break;
        case 5:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // minimise: hidden
            d.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
            d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case 6:
            d.visibility.push_back(d.IsWindowVisible() != FALSE); // close box: hidden
            // Exit while nothing runs ends the modal loop.
            ::PostMessageW(d.GetDlgItem(IDC_BTN_EXIT).m_hWnd, BM_CLICK, 0, 0);
            return;
        }
        d.PostMessage(WM_TEST_SCRIPT);
    };
    INT_PTR result = dlg.DoModal();
    DrainQuit();
    EXPECT_NE(result, kTimedOut);
    EXPECT_EQ(dlg.step, 7);
    EXPECT_EQ(dlg.visibility, (std::vector<bool>{true, false, false, true, false, false}));
}

// The one field both threads use while an attempt runs, without a message
// between them: the GUI writes the stop request, the worker polls it.
static_assert(std::is_same_v<decltype(DownloadState::m_bStopRequested), std::atomic<BOOL>> &&
                  std::atomic<BOOL>::is_always_lock_free,
              "the stop request is an atomic flag");

// Explorer's restart loses the notification-area icons and announces
// itself with the registered "TaskbarCreated": the hidden window adds its
// icon again (its only way back); a shown window adds none.
TEST(MainDialogShell, TaskbarCreatedAddsTheHiddenWindowsIconAgain)
{
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
        if (WaitingForTheFirstAttempt(d))
            return;
        const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
        ASSERT_NE(taskbarCreated, 0u);
        // The icon exists when NIM_MODIFY finds it.
        const auto iconShown = [&d] { return ::Shell_NotifyIconW(NIM_MODIFY, &d.m_trayData) != FALSE; };
        switch (d.step++) {
        case 0:
            d.SendMessage(taskbarCreated); // shown: nothing to add
            d.notes.push_back(iconShown());
            d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case 1:
            d.notes.push_back(iconShown());
            ::Shell_NotifyIconW(NIM_DELETE, &d.m_trayData); // what Explorer's end did
            d.notes.push_back(iconShown());
            d.SendMessage(taskbarCreated);
            d.notes.push_back(iconShown());
            d.notes.push_back(d.IsWindowVisible() != FALSE);
            d.SendMessage(WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN); // shows the window, removes the icon
            d.notes.push_back(iconShown());
            ::PostMessageW(d.GetDlgItem(IDC_BTN_EXIT).m_hWnd, BM_CLICK, 0, 0);
            return;
        }
        d.PostMessage(WM_TEST_SCRIPT);
    };
    const INT_PTR result = dlg.DoModal();
    DrainQuit();
    EXPECT_NE(result, kTimedOut);
    // shown: no icon; hidden: icon; lost; added again, window still hidden; back: none.
    EXPECT_EQ(dlg.notes, (std::vector<bool>{false, true, false, true, false, false}));
}

// Peer records as the engine hands them out.
tg::peer_record Record(const char* address, std::int64_t bytes, int speed, const char* client)
{
    tg::peer_record r;
    tg::clear_numeric_fields(r);
    r.ip = lt::tcp::endpoint(boost::asio::ip::make_address(address), 8080);
    r.total_download = bytes;
    r.down_speed = speed;
    r.client = client;
    r.connection_type = lt::peer_info::standard_bittorrent;
    return r;
}

tg::peer_record SourceRecord(int id, const char* address, std::int64_t bytes, int speed, bool queued)
{
    tg::peer_record r = Record(address, bytes, speed, "nginx/1.22.1");
    r.connection_type = lt::peer_info::web_seed;
    r.source_id = id;
    if (queued)
        r.flags |= tg::peer_queued;
    return r;
}

std::wstring ByteSize(LONGLONG n)
{
    wchar_t text[64] = {};
    ::StrFormatByteSizeW(n, text, 64);
    return text;
}

std::vector<std::wstring> RowTexts(CListCtrl& list, int row)
{
    std::vector<std::wstring> texts;
    for (int col = 0; col < 5; ++col)
        texts.push_back(list.GetItemText(row, col));
    return texts;
}

TEST(MainDialogStatus, RefreshMaskSetsPanesInOrderAndReconcilesTheList)
{
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
        if (WaitingForTheFirstAttempt(d))
            return;
        CListCtrl& list = d.m_peerList;
        CStatusBar& bar = d.m_statusBar;
        // Pane 0 alone: the others keep their indicator texts, the list is
        // not touched although records wait.
        g_peerInfoList = {SourceRecord(1, "127.0.0.1", 0, 0, true)};
        for (int i = 0; i < 4; ++i)
            d.m_strPaneText[i] = L"pane " + std::to_wstring(i);
        EXPECT_EQ(d.SendMessage(WM_REFRESH_STATUS, 0, REFRESH_PANE_PORT), 0);
        EXPECT_EQ(bar.GetPaneText(0), L"pane 0");
        EXPECT_EQ(bar.GetPaneText(1), L"0 - 0 - 0");
        EXPECT_EQ(bar.GetPaneText(2), L"0.00 KB/s - 0.00 KB/s");
        EXPECT_EQ(bar.GetPaneText(3), L"0.00 MB - 0.00 MB");
        EXPECT_EQ(list.GetItemCount(), 0);
        EXPECT_EQ(g_peerInfoList.size(), 1u);

        // Everything: a queued source with speed, a peer with bytes and
        // speed, a peer without bytes (no row), a peer with bytes but no speed.
        g_peerInfoList = {
            SourceRecord(1, "127.0.0.1", 0, 4096, true), Record("127.0.0.2", 1536, 2048, "\xC2\xB5Torrent 3.5"),
            Record("127.0.0.3", 0, 100, "nobytes"), Record("127.0.0.4", 100, 0, "Tr\xC3\xB2 ch\xC6\xA1i")};
        EXPECT_EQ(d.SendMessage(WM_REFRESH_STATUS, 0, REFRESH_ALL), 0);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(bar.GetPaneText(i), L"pane " + std::to_wstring(i));
        ASSERT_EQ(list.GetItemCount(), 3);
        EXPECT_EQ(RowTexts(list, 0),
                  (std::vector<std::wstring>{L"127.0.0.1", ByteSize(4096) + L"/s", ByteSize(0), L"nginx/1.22.1",
                                             L"Đang kết nối"}));
        EXPECT_EQ(RowTexts(list, 1),
                  (std::vector<std::wstring>{L"127.0.0.2", ByteSize(2048) + L"/s", ByteSize(1536), L"µTorrent 3.5",
                                             L"Hiện đang tải"}));
        EXPECT_EQ(RowTexts(list, 2),
                  (std::vector<std::wstring>{L"127.0.0.4", ByteSize(0) + L"/s", ByteSize(100), L"Trò chơi",
                                             L"Đang kết nối"}));
        EXPECT_EQ(list.GetItemData(0), 1u);
        EXPECT_EQ(list.GetItemData(1), 0u);

        // The next second: the source moved to another address of its host
        // and now loads; a new source comes in at the top; the peer at
        // 127.0.0.4 is gone; a negative speed is shown as the unsigned value.
        g_peerInfoList = {Record("127.0.0.2", 4096, -1, "\xC2\xB5Torrent 3.5"),
                          SourceRecord(2, "127.0.0.1", 0, 0, true), SourceRecord(1, "127.0.0.5", 8192, 1024, false)};
        d.SendMessage(WM_REFRESH_STATUS, 0, REFRESH_PEER_LIST);
        ASSERT_EQ(list.GetItemCount(), 3);
        EXPECT_EQ(list.GetItemData(0), 2u);
        EXPECT_EQ(list.GetItemData(1), 1u);
        EXPECT_EQ(RowTexts(list, 1),
                  (std::vector<std::wstring>{L"127.0.0.5", ByteSize(1024) + L"/s", ByteSize(8192), L"nginx/1.22.1",
                                             L"Hiện đang tải"}));
        EXPECT_EQ(RowTexts(list, 2)[0], L"127.0.0.2");
        EXPECT_EQ(RowTexts(list, 2)[1], ByteSize(0xFFFFFFFFLL) + L"/s");
        EXPECT_EQ(g_peerInfoList.size(), 1u) << "only the record that got a new row stays";

        g_peerInfoList.clear();
        d.SendMessage(WM_REFRESH_STATUS, 0, REFRESH_PEER_LIST);
        EXPECT_EQ(list.GetItemCount(), 0);
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(MainDialogPlay, RunFileWithoutExeStartsNothingAndEndsTheWindow)
{
    // The log in a folder of its own, as start-up names the program's.
    const ScratchFolder logFolder{"play-log"};
    const std::wstring& logRoot = logFolder.Path();
    ::CreateDirectoryW((logRoot + L"\\logs").c_str(), nullptr);
    SetUpdateLogFolder(logRoot);
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
        if (WaitingForTheFirstAttempt(d))
            return;
        // The completed state: the action button plays.
        d.m_strRunFile = d.m_strInstallPath + L"\\tg-play-missing";
        d.SetDlgItemText(IDC_BTN_ACTION, L"CHƠI NGAY"); // matched without regard to case
        ::PostMessageW(d.GetDlgItem(IDC_BTN_ACTION).m_hWnd, BM_CLICK, 0, 0);
    };
    const INT_PTR result = dlg.DoModal();
    DrainQuit();
    EXPECT_NE(result, kTimedOut) << "Play did not end the window";
    EXPECT_EQ(dlg.workerFinished, 1);
    SetUpdateLogFolder(std::wstring());

    // Nothing was started: Play said so in the log instead.
    std::string logged;
    WIN32_FIND_DATAW entry = {};
    const std::wstring logs = logRoot + L"\\logs\\";
    HANDLE search = ::FindFirstFileW((logs + L"*.txt").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            HANDLE f = ::CreateFileW((logs + entry.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
            char buffer[4096];
            DWORD got = 0;
            while (f != INVALID_HANDLE_VALUE && ::ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0)
                logged.append(buffer, got);
            if (f != INVALID_HANDLE_VALUE)
                ::CloseHandle(f);
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    EXPECT_NE(logged.find(" Play: RunFile names no .exe program, nothing started: "), std::string::npos) << logged;
    EXPECT_NE(logged.find("tg-play-missing\r\n"), std::string::npos) << logged;
}

} // namespace
