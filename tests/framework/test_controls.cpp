// Control wrappers on a real dialog: list view and status bar round trips,
// the tooltip's tools, and a worker thread driving controls of the GUI thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "scripted_dialog.h"

namespace {

constexpr UINT WM_TEST_DONE = WM_APP + 6;

class ControlsDlg : public ScriptedDlg
{
public:
    CListCtrl m_list;
    CStatusBar m_statusBar;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_LIST, m_list); }
};

TEST(ListCtrl, RoundTripsColumnsItemsTextsAndData)
{
    ControlsDlg dlg;
    bool ran = false;
    dlg.onInit = [&](ScriptedDlg& d) {
        CListCtrl& list = static_cast<ControlsDlg&>(d).m_list;
        list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
        EXPECT_EQ(list.GetExtendedStyle() & LVS_EX_FULLROWSELECT, static_cast<DWORD>(LVS_EX_FULLROWSELECT));
        const wchar_t* headings[] = {L"Địa chỉ", L"Tốc độ", L"Dung lượng"};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(list.InsertColumn(i, headings[i], LVCFMT_LEFT, 80), i);
        EXPECT_EQ(list.GetColumnCount(), 3);

        EXPECT_EQ(list.InsertItem(0, L"10.0.0.2"), 0);
        EXPECT_EQ(list.InsertItem(0, L"127.0.0.1"), 0); // goes on top
        EXPECT_EQ(list.InsertItem(list.GetItemCount(), L"::1"), 2);
        ASSERT_EQ(list.GetItemCount(), 3);
        EXPECT_EQ(list.GetItemText(0, 0), L"127.0.0.1");
        EXPECT_EQ(list.GetItemText(1, 0), L"10.0.0.2");

        // Data survives the rows moving; texts of any length come back whole.
        EXPECT_TRUE(list.SetItemData(0, 7));
        EXPECT_TRUE(list.SetItemData(1, static_cast<DWORD_PTR>(-1)));
        std::wstring longText(1000, L'ệ');
        EXPECT_TRUE(list.SetItemText(1, 2, longText.c_str()));
        EXPECT_TRUE(list.SetItemText(1, 1, L"Hiện đang tải"));
        EXPECT_EQ(list.GetItemText(1, 2), longText);
        EXPECT_EQ(list.GetItemText(1, 1), L"Hiện đang tải");
        EXPECT_EQ(list.GetItemText(2, 1), L"");
        EXPECT_TRUE(list.DeleteItem(0));
        EXPECT_EQ(list.GetItemData(0), static_cast<DWORD_PTR>(-1));
        EXPECT_EQ(list.GetItemData(1), 0u);
        // Out of range: empty answers, no failure beyond the return value.
        EXPECT_EQ(list.GetItemText(9, 0), L"");
        EXPECT_EQ(list.GetItemData(9), 0u);
        EXPECT_FALSE(list.DeleteItem(9));
        EXPECT_TRUE(list.DeleteAllItems());
        EXPECT_EQ(list.GetItemCount(), 0);
        ran = true;
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ran);
}

TEST(StatusBar, PanesFromIndicatorsWithStretchAtTheBottom)
{
    ControlsDlg dlg;
    bool ran = false;
    dlg.onInit = [&](ScriptedDlg& d) {
        CStatusBar& bar = static_cast<ControlsDlg&>(d).m_statusBar;
        ASSERT_TRUE(bar.Create(&d, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR));
        EXPECT_EQ(bar.GetDlgCtrlID(), AFX_IDW_STATUS_BAR);
        static const UINT indicators[] = {IDS_PANE_A, IDS_PANE_B, IDS_PANE_C};
        ASSERT_TRUE(bar.SetIndicators(indicators, 3));
        ASSERT_EQ(bar.GetCount(), 3);
        // Indicator strings are the panes' first texts.
        EXPECT_EQ(bar.GetPaneText(0), L"Cổng");
        EXPECT_EQ(bar.GetPaneText(2), L"0.00 MB - 0.00 MB");
        EXPECT_EQ(bar.CommandToIndex(IDS_PANE_B), 1);

        bar.SetPaneInfo(0, IDS_PANE_A, SBPS_NORMAL, 45);
        bar.SetPaneInfo(1, IDS_PANE_B, SBPS_STRETCH, 50);
        bar.SetPaneInfo(2, IDS_PANE_C, SBPS_NORMAL, 60);
        d.RepositionBars(AFX_IDW_CONTROLBAR_FIRST, AFX_IDW_CONTROLBAR_LAST, 0);
        UINT id, style;
        int width;
        bar.GetPaneInfo(1, id, style, width);
        EXPECT_EQ(id, static_cast<UINT>(IDS_PANE_B));
        EXPECT_EQ(style, SBPS_STRETCH);
        EXPECT_EQ(width, 50);
        EXPECT_EQ(bar.GetPaneText(0), L"Cổng") << "SetPaneInfo keeps the text";

        // The bar lies along the dialog's bottom edge, the stretch pane takes
        // the width the others leave.
        RECT client, barRect;
        d.GetClientRect(&client);
        bar.GetWindowRect(&barRect);
        POINT bottomRight = {barRect.right, barRect.bottom};
        d.ScreenToClient(&bottomRight);
        EXPECT_EQ(bottomRight.y, client.bottom);
        int edges[3] = {};
        ASSERT_EQ(bar.SendMessage(SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
        RECT barClient;
        bar.GetClientRect(&barClient);
        EXPECT_EQ(edges[0], 45);
        EXPECT_EQ(edges[2], barClient.right);
        EXPECT_EQ(edges[1], barClient.right - 60);

        EXPECT_TRUE(bar.SetPaneText(1, L"12 - 3 - 250"));
        EXPECT_TRUE(bar.SetPaneText(2, L"1.50 MB - 0.00 MB", FALSE));
        EXPECT_EQ(bar.GetPaneText(1), L"12 - 3 - 250");
        EXPECT_EQ(bar.GetPaneText(2), L"1.50 MB - 0.00 MB");
        EXPECT_FALSE(bar.SetPaneText(3, L"no such pane"));
        ran = true;
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ran);
    EXPECT_EQ(dlg.m_statusBar.m_hWnd, nullptr) << "destroyed with its parent";
}

TEST(ToolTipCtrl, ToolsAddedOnceAndRetitled)
{
    ControlsDlg dlg;
    bool ran = false;
    dlg.onInit = [&](ScriptedDlg& d) {
        CStatic label;
        ASSERT_TRUE(label.SubclassDlgItem(IDC_LABEL, &d));
        CToolTipCtrl tip;
        ASSERT_TRUE(tip.Create(&label));
        tip.Activate(TRUE);
        EXPECT_EQ(tip.GetToolCount(), 0);
        RECT area = {0, 0, 77, 39};
        EXPECT_TRUE(tip.AddTool(&label, L"Korvane Corp.", &area, 1));
        EXPECT_EQ(tip.GetToolCount(), 1);
        tip.SetDelayTime(TTDT_AUTOMATIC, 5000);
        EXPECT_EQ(tip.SendMessage(TTM_GETDELAYTIME, TTDT_INITIAL, 0), 5000);
        tip.UpdateTipText(L"Chương trình", &label, 1);
        EXPECT_EQ(tip.GetText(&label, 1), L"Chương trình");
        MSG move = {label.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5), 0, {0, 0}};
        tip.RelayEvent(&move);
        HWND tipWindow = tip.m_hWnd;
        EXPECT_TRUE(tip.DestroyWindow());
        EXPECT_EQ(tip.m_hWnd, nullptr);
        EXPECT_FALSE(::IsWindow(tipWindow));
        EXPECT_EQ(label.UnsubclassWindow(), ::GetDlgItem(d.m_hWnd, IDC_LABEL));
        EXPECT_EQ(CWnd::FromHandlePermanent(::GetDlgItem(d.m_hWnd, IDC_LABEL)), nullptr);
        ran = true;
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ran);
}

// A label that notes on which thread its text changes.
class ThreadNotingStatic : public CStatic
{
public:
    std::atomic<DWORD> setTextThread{0};

protected:
    LRESULT OnSetText(WPARAM, LPARAM)
    {
        setTextThread = ::GetCurrentThreadId();
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ThreadNotingStatic, CStatic)
    ON_MESSAGE(WM_SETTEXT, &ThreadNotingStatic::OnSetText)
END_MESSAGE_MAP()

class WorkerDlg : public ScriptedDlg
{
public:
    ThreadNotingStatic m_label;
    CProgressCtrl m_progress;
    CListCtrl m_list;
    std::thread worker;
    std::wstring labelSeenByWorker;
    std::wstring cellSeenByWorker;
    int positionSeenByWorker = -1;
    int guiTicksWhileWorking = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_LABEL, m_label);
        DDX_Control(pDX, IDC_PROGRESS, m_progress);
        DDX_Control(pDX, IDC_LIST, m_list);
    }
    LRESULT OnTick(WPARAM, LPARAM)
    {
        ++guiTicksWhileWorking;
        return 0;
    }
    LRESULT OnDone(WPARAM, LPARAM)
    {
        worker.join(); // the worker posted this as its last action
        EndDialog(IDOK);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

constexpr UINT WM_TEST_TICK = WM_APP + 7;

BEGIN_MESSAGE_MAP(WorkerDlg, ScriptedDlg)
    ON_MESSAGE(WM_TEST_TICK, &WorkerDlg::OnTick)
    ON_MESSAGE(WM_TEST_DONE, &WorkerDlg::OnDone)
END_MESSAGE_MAP()

TEST(WorkerThread, DrivesGuiControlsThroughSynchronousMessages)
{
    WorkerDlg dlg;
    DWORD guiThread = ::GetCurrentThreadId();
    DWORD workerThread = 0;
    dlg.onInit = [&](ScriptedDlg& d) {
        WorkerDlg& w = static_cast<WorkerDlg&>(d);
        w.m_progress.SetRange(0, 100);
        w.m_list.InsertColumn(0, L"Địa chỉ", LVCFMT_LEFT, 95);
        w.m_list.InsertColumn(1, L"Trạng thái", LVCFMT_LEFT, 80);
        w.worker = std::thread([&w, &workerThread] {
            workerThread = ::GetCurrentThreadId();
            for (int i = 1; i <= 20; ++i) {
                wchar_t text[32];
                wsprintfW(text, L"%d.00 %%", i);
                w.m_label.SetWindowText(text);
                w.m_progress.SetPos(i * 5);
                // The GUI thread's loop keeps running between the sends.
                w.PostMessage(WM_TEST_TICK);
            }
            w.labelSeenByWorker = w.m_label.GetWindowText();
            w.positionSeenByWorker = w.m_progress.GetPos();
            w.m_list.DeleteAllItems();
            int row = w.m_list.InsertItem(0, L"127.0.0.1");
            w.m_list.SetItemData(row, 3);
            w.m_list.SetItemText(row, 1, L"Đang kết nối");
            w.cellSeenByWorker = w.m_list.GetItemText(row, 1);
            w.SetDlgItemText(IDC_GO, L"Dừng lại");
            w.PostMessage(WM_TEST_DONE);
        });
    };
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_NE(workerThread, guiThread);
    EXPECT_EQ(dlg.m_label.setTextThread.load(), guiThread) << "the change ran on the GUI thread";
    EXPECT_EQ(dlg.labelSeenByWorker, L"20.00 %");
    EXPECT_EQ(dlg.positionSeenByWorker, 100);
    EXPECT_EQ(dlg.cellSeenByWorker, L"Đang kết nối");
    EXPECT_EQ(dlg.guiTicksWhileWorking, 20);
}

} // namespace

namespace {

// An object that ends before its window hands the window back: the original
// procedure again, no way from the handle to the dead object.
TEST(WndLifetime, ObjectEndingBeforeItsWindowGivesItBack)
{
    ScriptedDlg dlg;
    bool ran = false;
    dlg.onInit = [&](ScriptedDlg& d) {
        HWND label = ::GetDlgItem(d.m_hWnd, IDC_LABEL);
        LONG_PTR original = ::GetWindowLongPtrW(label, GWLP_WNDPROC);
        {
            CStatic wrapper;
            ASSERT_TRUE(wrapper.SubclassWindow(label));
            EXPECT_NE(::GetWindowLongPtrW(label, GWLP_WNDPROC), original);
            CStatic second;
            EXPECT_FALSE(second.SubclassWindow(label)) << "one object per window";
            EXPECT_EQ(second.m_hWnd, nullptr);
        }
        EXPECT_EQ(::GetWindowLongPtrW(label, GWLP_WNDPROC), original);
        EXPECT_EQ(CWnd::FromHandlePermanent(label), nullptr);
        ::SetWindowTextW(label, L"vẫn chạy");
        EXPECT_EQ(CWnd(label).GetWindowText(), L"vẫn chạy");
        // A created window goes with its object.
        HWND created = nullptr;
        {
            CWnd child;
            RECT r = {0, 0, 10, 10};
            ASSERT_TRUE(child.CreateEx(0, L"Static", L"", WS_CHILD, r, d.m_hWnd, 4242));
            created = child.m_hWnd;
        }
        EXPECT_FALSE(::IsWindow(created));
        ran = true;
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ran);
}

} // namespace
