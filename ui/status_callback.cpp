#include "status_callback.h"

#include <commctrl.h>

#include "progress_percent.h"
#include "resource.h"

int CStatusCallback::Notify(int32_t)
{
    return TRUE;
}

int CStatusCallback::OnProgress(uint32_t done, uint32_t total)
{
    // Guards against a report before the main window has set itself.
    if (!m_pOwner)
        return TRUE;
    if (total == 0) {
        m_pOwner->GetDlgItem(IDC_PROGRESS).SendMessage(PBM_SETPOS, 0, 0);
        m_pOwner->SetDlgItemText(IDC_TXT_PERCENT, L"0 %");
        return TRUE;
    }
    const int32_t percent = ProgressPercent(done, total);
    if (percent == m_nLastPercent)
        return TRUE;
    m_nLastPercent = percent;
    m_pOwner->GetDlgItem(IDC_PROGRESS).SendMessage(PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    m_pOwner->SetDlgItemText(IDC_TXT_PERCENT, PercentText(percent).c_str());
    return TRUE;
}
