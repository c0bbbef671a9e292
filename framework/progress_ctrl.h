// CProgressCtrl: the common progress bar (msctls_progress32); each method
// sends one PBM_ message (synchronous from another thread, see wnd.h).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "framework/wnd.h"

class CProgressCtrl : public CWnd
{
    DECLARE_DYNAMIC(CProgressCtrl)

public:
    CProgressCtrl() = default;

    void SetRange(short nLower, short nUpper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper)); }
    void GetRange(int& nLower, int& nUpper) const
    {
        PBRANGE r = {0, 0};
        SendMessage(PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&r));
        nLower = r.iLow;
        nUpper = r.iHigh;
    }
    // Returns the previous position.
    int SetPos(int nPos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos), 0)); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS, 0, 0)); }
};
