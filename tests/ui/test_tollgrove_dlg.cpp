// The main window's shell on the program's own dialog resource: every control
// of the window with its id, class, text, style and place, the list's columns
// and the status bar's panes, and the Enter/Escape/close/minimise/tray rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/tollgrove_dlg.h"
#include "ui/window_messages.h"

namespace {

constexpr UINT WM_TEST_SCRIPT = WM_APP + 50;
constexpr UINT_PTR kSafetyTimer = 0x5AFE;
constexpr int kTimedOut = -7;

// The shell with a script that runs once the modal loop runs, and a safety
// time after which the dialog ends itself.
class ScriptedMainDlg : public CTollgroveDlg
{
public:
    using CTollgroveDlg::m_bExpanded;
    using CTollgroveDlg::m_bInTray;
    using CTollgroveDlg::m_peerList;
    using CTollgroveDlg::m_picture;
    using CTollgroveDlg::m_progress;
    using CTollgroveDlg::m_statusBar;
    using CTollgroveDlg::m_trayData;

    void (*script)(ScriptedMainDlg&) = nullptr;
    int step = 0;
    std::vector<bool> visibility; // noted by the script after each step
    // The controls' texts as the template made them, before the window's
    // initialisation starts the first attempt (which changes some of them).
    std::vector<std::wstring> templateTexts;

protected:
    BOOL OnInitDialog() override
    {
        for (HWND h = ::GetWindow(m_hWnd, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
            templateTexts.push_back(CWnd(h).GetWindowText());
        BOOL r = CTollgroveDlg::OnInitDialog();
        SetTimer(kSafetyTimer, 20000);
        PostMessage(WM_TEST_SCRIPT);
        return r;
    }
    void OnTimer(UINT_PTR id)
    {
        if (id == kSafetyTimer)
            EndDialog(kTimedOut);
    }
    LRESULT OnScript(WPARAM, LPARAM)
    {
        script(*this);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ScriptedMainDlg, CTollgroveDlg)
    ON_WM_TIMER()
    ON_MESSAGE(WM_TEST_SCRIPT, &ScriptedMainDlg::OnScript)
END_MESSAGE_MAP()

// After PostQuitMessage ended a modal loop the quit message waits in the
// thread's queue again; take it out so it cannot end a later dialog.
void DrainQuit()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

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
        EXPECT_EQ(d.m_trayData.cbSize, 952u);
        EXPECT_STREQ(d.m_trayData.szInfo, L"Chương trình đang hoạt động.");
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(MainDialogShell, EnterIsIgnoredCloseAndMinimiseHideIntoTheTray)
{
    ScriptedMainDlg dlg;
    dlg.script = [](ScriptedMainDlg& d) {
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

} // namespace
