// The main window with a script that runs once its modal loop runs, for
// the tests of ui/ (one program per file, so the map below is defined once
// in each).
#pragma once
#include <windows.h>

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

    // The first attempt finds an install folder kept from an earlier
    // attempt (the temporary folder) unless the test wants the question.
    explicit ScriptedMainDlg(bool keepInstallFolder = true)
    {
        if (keepInstallFolder) {
            wchar_t temp[MAX_PATH] = {};
            ::GetTempPathW(MAX_PATH, temp);
            m_strInstallPath = temp;
            m_strInstallPath.pop_back();
        }
    }

    void (*script)(ScriptedMainDlg&) = nullptr;
    int workerFinished = 0; // WM_WORKER_FINISHED messages seen
    int step = 0;
    std::vector<bool> visibility; // noted by the script after each step
    std::vector<bool> notes;      // other facts a script notes, in order
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
    LRESULT OnFinished(WPARAM wParam, LPARAM lParam)
    {
        ++workerFinished;
        return CTollgroveDlg::OnWorkerFinished(wParam, lParam);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ScriptedMainDlg, CTollgroveDlg)
    ON_WM_TIMER()
    ON_MESSAGE(WM_TEST_SCRIPT, &ScriptedMainDlg::OnScript)
    ON_MESSAGE(WM_WORKER_FINISHED, &ScriptedMainDlg::OnFinished)
END_MESSAGE_MAP()

// For a script's first lines: while the first attempt's worker runs (its
// .torrent fetch fails here, quickly), the script runs again a moment
// later; true when it must return now. A script that ends the dialog
// before the worker is done would leave the worker a destroyed window.
inline bool WaitingForTheFirstAttempt(ScriptedMainDlg& d)
{
    if (!d.m_bBusy)
        return false;
    ::Sleep(50);
    d.PostMessage(WM_TEST_SCRIPT);
    return true;
}

// After PostQuitMessage ended a modal loop the quit message waits in the
// thread's queue again; take it out so it cannot end a later dialog.
void DrainQuit()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}


} // namespace
