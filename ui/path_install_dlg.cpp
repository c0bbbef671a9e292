#include "ui/path_install_dlg.h"

#include <shlwapi.h>

#include "download/support_routines.h"
#include "ui/directory_tree.h"
#include "ui/folder_dlg.h"
#include "ui/install_path_rules.h"

IMPLEMENT_DYNAMIC(CPathInstallDlg, CDialog)

BEGIN_MESSAGE_MAP(CPathInstallDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_BROWSE, &CPathInstallDlg::OnBrowse)
END_MESSAGE_MAP()

CPathInstallDlg::CPathInstallDlg(CWnd* pParent, const std::wstring& gameFolder)
    : CDialog(IDD_PATH_INSTALL, pParent), m_strGameFolder(gameFolder)
{
}

BOOL CPathInstallDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_EDIT_PATH, tollgrove::ProposedInstallPath(m_strGameFolder).c_str());
    return TRUE;
}

void CPathInstallDlg::OnBrowse()
{
    // The current directory is still the program's folder at this point.
    CFolderDlg browser(L"", this);
    browser.m_strTitle = L"Bạn hãy chọn đường dẫn để chứa source game...";
    if (browser.DoModal() == IDCANCEL)
        return;
    const std::wstring path = tollgrove::BrowsedInstallPath(browser.GetFolderPath(), m_strGameFolder);
    SetDlgItemText(IDC_EDIT_PATH, path.c_str());
}

void CPathInstallDlg::OnOK()
{
    m_strPath = GetDlgItemText(IDC_EDIT_PATH);
    // Made absolute here, against the program's folder (still the current
    // directory): the attempt changes into the install folder, and a
    // relative path would then name a folder inside itself on every Retry.
    // A file is no folder to install into.
    const std::wstring full = FullPathName(m_strPath);
    if (!full.empty() && (IsExistingFolder(full) ||
                             (!::PathFileExistsW(full.c_str()) && CreateDirectoryTree(full.c_str()) == 1))) {
        m_strPath = full;
        CDialog::OnOK();
        return;
    }
    ::MessageBoxW(m_hWnd, L"Đường dẫn không chính xác. Vui lòng chọn lai.", L"Lỗi chọn thư mục", MB_OK | MB_ICONERROR);
}
