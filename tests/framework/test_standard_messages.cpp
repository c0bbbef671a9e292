// The standard-message entries a control class uses unpack their arguments
// as Win32 packs them (signed coordinates, hit-test and mouse message of
// WM_SETCURSOR), their results reach the sender, and CPaintDC paints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted_dialog.h"

namespace {

class RecordingStatic : public CStatic
{
public:
    std::vector<std::string> log;
    BOOL cursorAnswer = TRUE;
    int paints = 0;
    RECT paintRect = {};

protected:
    void OnMouseMove(UINT nFlags, POINT pt) { Note("move", nFlags, pt.x, pt.y); }
    void OnMouseHover(UINT nFlags, POINT pt) { Note("hover", nFlags, pt.x, pt.y); }
    void OnMouseLeave() { Note("leave", 0, 0, 0); }
    void OnTimer(UINT_PTR nIDEvent) { Note("timer", static_cast<UINT>(nIDEvent), 0, 0); }
    BOOL OnSetCursor(HWND hWnd, UINT nHitTest, UINT message)
    {
        Note(hWnd == m_hWnd ? "cursor-self" : "cursor-other", nHitTest, static_cast<int>(message), 0);
        return cursorAnswer;
    }
    void OnDestroy()
    {
        Note("destroy", 0, 0, 0);
        CStatic::OnDestroy();
    }
    void OnPaint()
    {
        CPaintDC dc(this);
        ++paints;
        paintRect = dc.m_ps.rcPaint;
        HBRUSH red = ::CreateSolidBrush(RGB(255, 0, 0));
        RECT all;
        GetClientRect(&all);
        ::FillRect(dc, &all, red);
        ::DeleteObject(red);
    }
    void Note(const char* what, UINT a, int b, int c)
    {
        log.push_back(std::string(what) + " " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RecordingStatic, CStatic)
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
    ON_WM_TIMER()
    ON_WM_DESTROY()
    ON_WM_PAINT()
    ON_WM_MOUSEHOVER()
    ON_WM_MOUSELEAVE()
END_MESSAGE_MAP()

class RecordingDlg : public ScriptedDlg
{
public:
    RecordingStatic m_static;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_CLICKABLE, m_static); }
};

TEST(StandardMessages, UnpackArgumentsAndReturnResults)
{
    RecordingDlg dlg;
    std::vector<LRESULT> answers;
    COLORREF painted = CLR_INVALID;
    int paintsAfterUpdate = -1;
    dlg.onLoop = [&](ScriptedDlg& d) {
        RecordingStatic& s = static_cast<RecordingDlg&>(d).m_static;
        HWND h = s.m_hWnd;
        s.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-3, 7));
        s.SendMessage(WM_MOUSEHOVER, 0, MAKELPARAM(5, -2));
        s.SendMessage(WM_MOUSELEAVE);
        s.SendMessage(WM_TIMER, 42);
        answers.push_back(s.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
        s.cursorAnswer = FALSE;
        answers.push_back(s.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(d.m_hWnd), MAKELPARAM(HTCAPTION, WM_LBUTTONDOWN)));

        int before = s.paints;
        s.Invalidate(FALSE);
        s.UpdateWindow();
        paintsAfterUpdate = s.paints - before;
        RECT pending;
        EXPECT_FALSE(::GetUpdateRect(h, &pending, FALSE)) << "EndPaint validated the window";
        HDC dc = s.GetDC();
        painted = ::GetPixel(dc, 2, 2);
        s.ReleaseDC(dc);
        d.EndDialog(IDOK);
    };
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(answers, (std::vector<LRESULT>{TRUE, FALSE}));
    const std::vector<std::string> expected = {
        "move 1 -3 7",
        "hover 0 5 -2",
        "leave 0 0 0",
        "timer 42 0 0",
        "cursor-self 1 512 0",   // HTCLIENT, WM_MOUSEMOVE
        "cursor-other 2 513 0",  // HTCAPTION, WM_LBUTTONDOWN
        "destroy 0 0 0",
    };
    EXPECT_EQ(dlg.m_static.log, expected);
    EXPECT_EQ(paintsAfterUpdate, 1);
    EXPECT_EQ(painted, RGB(255, 0, 0));
}

} // namespace
