// Dialog data exchange: DoDataExchange binds member control objects to the
// dialog's items (DDX_Control subclasses the item's HWND).
#pragma once
#include <windows.h>

class CWnd;

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }

    BOOL m_bSaveAndValidate; // TRUE: controls to members; FALSE: members to controls
    CWnd* m_pDlgWnd;
    BOOL m_bFailed = FALSE;  // an item to bind was missing or could not be subclassed
};

// GUI thread. Binds rControl to item nIDC of the dialog once (later calls
// leave a bound control alone). A missing item sets pDX->m_bFailed and
// leaves the control unbound.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
