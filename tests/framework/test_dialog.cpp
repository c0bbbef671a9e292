// Real modal dialogs driven through the layer: message-map routing of
// commands, user and registered messages, reflection, data exchange, the
// OK/Cancel virtuals and PreTranslateMessage.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "scripted_dialog.h"

namespace {

constexpr UINT WM_TEST_SUM = WM_APP + 5;
constexpr UINT WM_TEST_DONE = WM_APP + 6;
UINT g_registeredPing = 0;

// A static that wants its own clicks: SS_NOTIFY is added before subclassing,
// STN_CLICKED comes back to it by reflection.
class ClickableStatic : public CStatic
{
public:
    int clicks = 0;
    DWORD styleSeenAtPreSubclass = 0;

protected:
    void PreSubclassWindow() override
    {
        ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(GetStyle() | SS_NOTIFY));
        styleSeenAtPreSubclass = GetStyle();
        CStatic::PreSubclassWindow();
    }
    void OnClicked() { ++clicks; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ClickableStatic, CStatic)
    ON_CONTROL_REFLECT(STN_CLICKED, &ClickableStatic::OnClicked)
END_MESSAGE_MAP()

class MapDlg : public ScriptedDlg
{
public:
    ClickableStatic m_clickable;
    CProgressCtrl m_progress;
    CStatic m_missing;
    int goClicks = 0;
    int parentSawClickableClick = 0;
    int parentSawPlainClick = 0;
    BOOL ddxFailed = FALSE;
    std::vector<LRESULT> workerAnswers;
    std::thread worker;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_CLICKABLE, m_clickable);
        DDX_Control(pDX, IDC_PROGRESS, m_progress);
        CDataExchange probe(this, FALSE);
        DDX_Control(&probe, IDC_MISSING, m_missing);
        ddxFailed = probe.m_bFailed;
    }
    void OnGo() { ++goClicks; }
    void OnClickableFromParent() { ++parentSawClickableClick; }
    void OnPlainFromParent() { ++parentSawPlainClick; }
    LRESULT OnSum(WPARAM w, LPARAM l) { return static_cast<LRESULT>(w) + l; }
    LRESULT OnPing(WPARAM, LPARAM l) { return l * 2; }
    LRESULT OnDone(WPARAM, LPARAM)
    {
        worker.join(); // posted as the worker's last action
        EndDialog(static_cast<int>(goClicks * 100 + m_clickable.clicks * 10 + parentSawPlainClick));
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MapDlg, ScriptedDlg)
    ON_BN_CLICKED(IDC_GO, &MapDlg::OnGo)
    ON_STN_CLICKED(IDC_CLICKABLE, &MapDlg::OnClickableFromParent)
    ON_STN_CLICKED(IDC_PLAIN, &MapDlg::OnPlainFromParent)
    ON_MESSAGE(WM_TEST_SUM, &MapDlg::OnSum)
    ON_REGISTERED_MESSAGE(g_registeredPing, &MapDlg::OnPing)
    ON_MESSAGE(WM_TEST_DONE, &MapDlg::OnDone)
END_MESSAGE_MAP()

void PostClick(HWND hwnd)
{
    ::PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

TEST(DialogMessageMap, RoutesCommandsReflectionsAndMessagesWithResults)
{
    g_registeredPing = ::RegisterWindowMessageW(L"Tollgrove.Test.Ping");
    ASSERT_NE(g_registeredPing, 0u);
    MapDlg dlg;
    HWND progressDuringRun = nullptr;
    dlg.onInit = [&](ScriptedDlg& d) {
        MapDlg& m = static_cast<MapDlg&>(d);
        progressDuringRun = m.m_progress.m_hWnd;
        ::PostMessageW(::GetDlgItem(m.m_hWnd, IDC_GO), BM_CLICK, 0, 0);
        PostClick(m.m_clickable.m_hWnd);
        PostClick(::GetDlgItem(m.m_hWnd, IDC_PLAIN));
        // A second thread asks while the dialog's loop runs: each send waits
        // for the GUI thread and gets the handler's value back.
        HWND hwnd = m.m_hWnd;
        m.worker = std::thread([&m, hwnd] {
            m.workerAnswers.push_back(::SendMessageW(hwnd, WM_TEST_SUM, 40, 2));
            m.workerAnswers.push_back(::SendMessageW(hwnd, g_registeredPing, 0, 21));
            m.workerAnswers.push_back(::SendMessageW(hwnd, WM_APP + 77, 1, 1)); // not mapped
            ::PostMessageW(hwnd, WM_TEST_DONE, 0, 0);
        });
    };

    INT_PTR result = dlg.DoModal();

    // One click each: the button to the parent's entry, the clickable static
    // to its own reflected entry only, the plain static to the parent.
    EXPECT_EQ(result, 111);
    EXPECT_EQ(dlg.parentSawClickableClick, 0);
    EXPECT_EQ(dlg.workerAnswers, (std::vector<LRESULT>{42, 42, 0}));
    EXPECT_TRUE(dlg.m_clickable.styleSeenAtPreSubclass & SS_NOTIFY) << "PreSubclassWindow runs with the window";
    EXPECT_TRUE(dlg.ddxFailed);
    EXPECT_EQ(dlg.m_missing.m_hWnd, nullptr);
    EXPECT_NE(progressDuringRun, nullptr);
    // The dialog and its controls are gone and the objects let go of them.
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_progress.m_hWnd, nullptr);
    EXPECT_FALSE(::IsWindow(progressDuringRun));
}

// A control that handles its own NM_CLICK by reflection, as a list view does.
class NotifyTarget : public CWnd
{
public:
    int clicks = 0;
    // The reflection step a parent runs, called here as code that reflects a
    // notification by hand would call it.
    BOOL Reflect(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
    {
        return OnChildNotify(WM_NOTIFY, wParam, lParam, pResult);
    }

protected:
    void OnClick(NMHDR*, LRESULT* pResult)
    {
        ++clicks;
        *pResult = 7;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NotifyTarget, CWnd)
    ON_NOTIFY_REFLECT(NM_CLICK, &NotifyTarget::OnClick)
END_MESSAGE_MAP()

TEST(DialogMessageMap, NotifyWithoutHeaderIsRefusedByParentAndReflection)
{
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, L"STATIC", L"", WS_POPUP, RECT{0, 0, 50, 50}, nullptr, 0));
    NotifyTarget child;
    ASSERT_TRUE(child.CreateEx(0, L"STATIC", L"", WS_CHILD, RECT{0, 0, 10, 10}, parent.m_hWnd, 5));

    NMHDR hdr = {child.m_hWnd, 5, static_cast<UINT>(NM_CLICK)};
    EXPECT_EQ(::SendMessageW(parent.m_hWnd, WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&hdr)), 7);
    EXPECT_EQ(child.clicks, 1) << "a real header reaches the control's reflected entry";

    EXPECT_EQ(::SendMessageW(parent.m_hWnd, WM_NOTIFY, 5, 0), 0);
    LRESULT result = -1;
    EXPECT_FALSE(child.Reflect(5, 0, &result));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(child.clicks, 1);
}

TEST(DialogDataExchange, BindsMembersToTheirItems)
{
    MapDlg dlg;
    bool checked = false;
    dlg.onInit = [&](ScriptedDlg& d) {
        MapDlg& m = static_cast<MapDlg&>(d);
        HWND item = ::GetDlgItem(m.m_hWnd, IDC_PROGRESS);
        EXPECT_EQ(m.m_progress.m_hWnd, item);
        EXPECT_EQ(CWnd::FromHandlePermanent(item), &m.m_progress);
        EXPECT_EQ(CWnd::FromHandlePermanent(m.m_hWnd), &m);
        EXPECT_STREQ(m.m_progress.GetRuntimeClass()->m_lpszClassName, "CProgressCtrl");
        EXPECT_TRUE(m.m_clickable.IsKindOf(RUNTIME_CLASS(CStatic)));
        EXPECT_FALSE(m.m_clickable.IsKindOf(RUNTIME_CLASS(CDialog)));
        // The wrapper's messages reach the real control.
        m.m_progress.SetRange(0, 100);
        m.m_progress.SetPos(37);
        EXPECT_EQ(::SendMessageW(item, PBM_GETPOS, 0, 0), 37);
        // A second exchange keeps the bindings as they are.
        EXPECT_TRUE(m.UpdateData(TRUE));
        EXPECT_EQ(m.m_progress.m_hWnd, item);
        checked = true;
        m.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(checked);
}

// The shape of the main window's OK/Cancel: Enter does nothing, Escape and
// the close box hide the window instead of ending the dialog.
class HidingDlg : public ScriptedDlg
{
public:
    int okCalls = 0;
    int cancelCalls = 0;
    bool visibleAtEnd = true;

protected:
    void OnOK() override { ++okCalls; }
    void OnCancel() override
    {
        ++cancelCalls;
        ShowWindow(SW_HIDE);
    }
    LRESULT OnDone(WPARAM round, LPARAM)
    {
        if (round == 0) { // the close box's IDCANCEL is posted: let it arrive first
            PostMessage(WM_TEST_DONE, 1);
            return 0;
        }
        visibleAtEnd = IsWindowVisible() != FALSE;
        EndDialog(5);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(HidingDlg, ScriptedDlg)
    ON_MESSAGE(WM_TEST_DONE, &HidingDlg::OnDone)
END_MESSAGE_MAP()

void PostKey(HWND hwnd, UINT vk)
{
    ::PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
    ::PostMessageW(hwnd, WM_KEYUP, vk, 0xC0000001);
}

TEST(DialogVirtuals, OverriddenOkAndCancelKeepTheDialogRunning)
{
    HidingDlg dlg;
    dlg.onLoop = [](ScriptedDlg& d) {
        HWND list = ::GetDlgItem(d.m_hWnd, IDC_LIST); // no push button has the focus
        ::SetFocus(list);
        PostKey(list, VK_RETURN);
        PostKey(list, VK_ESCAPE);
        d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        d.PostMessage(WM_TEST_DONE);
    };
    EXPECT_EQ(dlg.DoModal(), 5);
    EXPECT_EQ(dlg.okCalls, 1);
    EXPECT_EQ(dlg.cancelCalls, 2);
    EXPECT_FALSE(dlg.visibleAtEnd);
}

TEST(DialogVirtuals, BaseOkAndCancelEndTheDialog)
{
    struct Case
    {
        UINT key;
        INT_PTR expected;
    };
    for (Case c : {Case{VK_RETURN, IDOK}, Case{VK_ESCAPE, IDCANCEL}}) {
        ScriptedDlg dlg;
        dlg.onLoop = [&](ScriptedDlg& d) {
            HWND list = ::GetDlgItem(d.m_hWnd, IDC_LIST);
            ::SetFocus(list);
            PostKey(list, c.key);
        };
        EXPECT_EQ(dlg.DoModal(), c.expected) << "key " << c.key;
    }
}

TEST(DialogVirtuals, MissingTemplateFailsWithoutAWindow)
{
    CDialog dlg(4321);
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

// PreTranslateMessage sees the loop's messages before they are dispatched,
// the target control first, then its dialog; TRUE swallows a message.
class PeekingStatic : public CStatic
{
public:
    std::vector<UINT>* trace = nullptr;
    int buttonDownsDelivered = 0;

    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_MOUSEMOVE || pMsg->message == WM_LBUTTONDOWN)
            trace->push_back(pMsg->message);
        return pMsg->message == WM_LBUTTONDOWN; // swallow button presses
    }

protected:
    LRESULT OnButtonDown(WPARAM, LPARAM)
    {
        ++buttonDownsDelivered;
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PeekingStatic, CStatic)
    ON_MESSAGE(WM_LBUTTONDOWN, &PeekingStatic::OnButtonDown)
END_MESSAGE_MAP()

class PeekingDlg : public ScriptedDlg
{
public:
    PeekingStatic m_static;
    std::vector<UINT> trace;
    HWND seenTarget = nullptr;

    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_MOUSEMOVE || pMsg->message == WM_LBUTTONDOWN) {
            trace.push_back(pMsg->message | 0x10000); // marks the dialog's turn
            seenTarget = pMsg->hwnd;
        }
        return FALSE;
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_CLICKABLE, m_static); }
    LRESULT OnDone(WPARAM, LPARAM)
    {
        EndDialog(IDOK);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PeekingDlg, ScriptedDlg)
    ON_MESSAGE(WM_TEST_DONE, &PeekingDlg::OnDone)
END_MESSAGE_MAP()

TEST(DialogPreTranslate, SeesChildMouseMessagesInnermostFirst)
{
    PeekingDlg dlg;
    dlg.m_static.trace = &dlg.trace;
    dlg.onInit = [](ScriptedDlg& d) {
        PeekingDlg& p = static_cast<PeekingDlg&>(d);
        p.m_static.PostMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        p.m_static.PostMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        p.PostMessage(WM_TEST_DONE);
    };
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.trace, (std::vector<UINT>{WM_MOUSEMOVE, WM_MOUSEMOVE | 0x10000, WM_LBUTTONDOWN}));
    EXPECT_EQ(dlg.m_static.buttonDownsDelivered, 0) << "a swallowed message is not dispatched";
    EXPECT_NE(dlg.seenTarget, nullptr);
}

} // namespace

namespace {

// A dialog of the worker thread over the GUI thread's window, as the
// install-folder prompt runs: its own loop on the worker, the owner disabled
// meanwhile, each thread with its own message filter.
class OwnerDlg : public ScriptedDlg
{
public:
    std::thread worker;
    INT_PTR innerResult = 0;
    bool ownerEnabledDuringInner = true;
    bool innerSawPreTranslate = false;
    DWORD innerThread = 0;

protected:
    LRESULT OnDone(WPARAM, LPARAM)
    {
        worker.join();
        EndDialog(IsWindowEnabled() ? IDOK : IDABORT);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(OwnerDlg, ScriptedDlg)
    ON_MESSAGE(WM_TEST_DONE, &OwnerDlg::OnDone)
END_MESSAGE_MAP()

class InnerDlg : public ScriptedDlg
{
public:
    using ScriptedDlg::ScriptedDlg;
    bool* sawPreTranslate = nullptr;

    BOOL PreTranslateMessage(MSG* pMsg) override
    {
        if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE)
            *sawPreTranslate = true;
        return FALSE;
    }
};

TEST(DialogThreads, WorkerRunsADialogOwnedByTheGuiWindow)
{
    OwnerDlg owner;
    owner.onLoop = [](ScriptedDlg& d) {
        OwnerDlg& o = static_cast<OwnerDlg&>(d);
        o.worker = std::thread([&o] {
            InnerDlg inner(&o);
            inner.sawPreTranslate = &o.innerSawPreTranslate;
            inner.onLoop = [&o](ScriptedDlg& i) {
                o.innerThread = ::GetWindowThreadProcessId(i.m_hWnd, nullptr);
                o.ownerEnabledDuringInner = ::IsWindowEnabled(o.m_hWnd) != FALSE;
                HWND list = ::GetDlgItem(i.m_hWnd, IDC_LIST);
                ::SetFocus(list);
                ::PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
            };
            o.innerResult = inner.DoModal();
            o.PostMessage(WM_TEST_DONE);
        });
    };
    EXPECT_EQ(owner.DoModal(), IDOK) << "the owner is enabled again after the inner dialog";
    EXPECT_EQ(owner.innerResult, IDCANCEL);
    EXPECT_FALSE(owner.ownerEnabledDuringInner);
    EXPECT_TRUE(owner.innerSawPreTranslate);
    EXPECT_NE(owner.innerThread, ::GetCurrentThreadId());
}

} // namespace

namespace {

// A quit message ends the modal loop wherever it comes from (Exit posts one
// on the GUI thread, a worker posts one to the window); the dialog manager
// leaves it queued again for the loop outside.
TEST(DialogQuit, QuitMessageFromAWorkerEndsDoModal)
{
    ScriptedDlg dlg;
    std::thread worker;
    dlg.onLoop = [&](ScriptedDlg& d) {
        HWND hwnd = d.m_hWnd;
        worker = std::thread([hwnd] { ::PostMessageW(hwnd, WM_QUIT, 3, 0); });
    };
    INT_PTR result = dlg.DoModal();
    worker.join();
    EXPECT_NE(result, ScriptedDlg::kTimedOut);
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

} // namespace
