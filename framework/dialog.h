// CDialog: a modal dialog from a dialog template resource, run by
// DialogBoxParamW. The dialog window is subclassed at WM_INITDIALOG, so its
// messages go through the class's message map first and then to the dialog
// manager (DefDlgProc). While DoModal runs, a message-filter hook of the
// thread (the dialog manager's loop calls it for every message) offers each
// message to PreTranslateMessage of the target window and its parents.
#pragma once
#include "framework/data_exchange.h"
#include "framework/wnd.h"

class CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)

public:
    // The template is looked up in the program's module. pParentWnd may be null.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog on the calling thread until EndDialog (or a WM_QUIT
    // in its loop, which the dialog manager passes on). Returns EndDialog's
    // value, or -1 when the dialog could not be created. Sends to the parent.
    virtual INT_PTR DoModal();
    // GUI thread: ends the modal loop with nResult.
    void EndDialog(int nResult);

    // GUI thread: runs DoDataExchange; bSaveAndValidate as CDataExchange.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    // Base versions: binds controls (UpdateData(FALSE)) and returns TRUE.
    virtual BOOL OnInitDialog();
    // IDOK: UpdateData(TRUE), then EndDialog(IDOK).
    virtual void OnOK();
    // IDCANCEL (also Escape and the close box): EndDialog(IDCANCEL).
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};
