#include "framework/dialog.h"

namespace {

// One message-filter hook per thread for all nested modal dialogs of that
// thread (each dialog manager loop calls it); the count says when to remove it.
struct ThreadMsgFilter
{
    HHOOK hook = nullptr;
    int users = 0;
};
thread_local ThreadMsgFilter t_msgFilter;

LRESULT CALLBACK MsgFilterProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == MSGF_DIALOGBOX) {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        // The target first, then its parents, up to the top-level window.
        for (HWND h = msg->hwnd; h; h = (::GetWindowLongW(h, GWL_STYLE) & WS_CHILD) ? ::GetParent(h) : nullptr) {
            CWnd* wnd = CWnd::FromHandlePermanent(h);
            if (wnd && wnd->PreTranslateMessage(msg))
                return 1;
        }
    }
    return ::CallNextHookEx(t_msgFilter.hook, code, wParam, lParam);
}

class MsgFilterScope
{
public:
    MsgFilterScope()
    {
        if (t_msgFilter.users++ == 0)
            t_msgFilter.hook = ::SetWindowsHookExW(WH_MSGFILTER, MsgFilterProc, nullptr, ::GetCurrentThreadId());
    }
    ~MsgFilterScope()
    {
        if (--t_msgFilter.users == 0 && t_msgFilter.hook) {
            ::UnhookWindowsHookEx(t_msgFilter.hook);
            t_msgFilter.hook = nullptr;
        }
    }
    MsgFilterScope(const MsgFilterScope&) = delete;
    MsgFilterScope& operator=(const MsgFilterScope&) = delete;
};

} // namespace

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd) // already running
        return -1;
    MsgFilterScope filter;
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    // Everything after WM_INITDIALOG reaches the object through the subclassed
    // window procedure first; here the dialog manager only asks for defaults.
    if (message != WM_INITDIALOG)
        return FALSE;
    // Only the dialog manager's first WM_INITDIALOG carries our object; a
    // later one (sent by anyone) finds the window subclassed already.
    if (CWnd::FromHandlePermanent(hWnd))
        return FALSE;
    CDialog* dlg = reinterpret_cast<CDialog*>(lParam);
    if (!dlg || !dlg->SubclassWindow(hWnd)) {
        ::EndDialog(hWnd, -1);
        return FALSE;
    }
    return dlg->OnInitDialog();
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    // A binding that failed at start must not keep the dialog from closing.
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*)
{
}
