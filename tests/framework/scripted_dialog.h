// A test dialog on IDD_TEST that runs a script once its loop runs and ends
// itself after a safety time, so a test that goes wrong fails instead of
// hanging.
#pragma once
#include <functional>

#include "framework/framework.h"
#include "test_resource.h"

class ScriptedDlg : public CDialog
{
public:
    static constexpr UINT_PTR kSafetyTimer = 0x5AFE;
    static constexpr int kTimedOut = -7;
    static constexpr UINT kRunLoopScript = WM_APP + 100;

    explicit ScriptedDlg(CWnd* pParent = nullptr) : CDialog(IDD_TEST, pParent) {}

    // Runs inside OnInitDialog, after the base bound the controls.
    std::function<void(ScriptedDlg&)> onInit;
    // Runs once the modal loop runs (focus and activation are settled).
    std::function<void(ScriptedDlg&)> onLoop;

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        SetTimer(kSafetyTimer, 20000);
        if (onInit)
            onInit(*this);
        PostMessage(kRunLoopScript);
        return TRUE;
    }
    LRESULT OnRunLoopScript(WPARAM, LPARAM)
    {
        if (onLoop)
            onLoop(*this);
        return 0;
    }
    void OnTimer(UINT_PTR nIDEvent)
    {
        if (nIDEvent == kSafetyTimer)
            EndDialog(kTimedOut);
        else
            Default();
    }

    DECLARE_MESSAGE_MAP()
};

