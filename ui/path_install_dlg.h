// CPathInstallDlg: asks where the game is to go (dialog 103). Runs modally
// on the attempt's worker thread with the main window as parent; creates
// the chosen folder with its missing parents when OK is pressed.
#pragma once
#include <string>

#include "framework/framework.h"
#include "resource.h"

class CPathInstallDlg : public CDialog
{
    DECLARE_DYNAMIC(CPathInstallDlg)

public:
    enum { IDD = IDD_PATH_INSTALL };

    CPathInstallDlg(CWnd* pParent, const std::wstring& gameFolder);
    ~CPathInstallDlg() override = default;

    std::wstring m_strPath;       // the accepted folder, absolute; after a refused OK its text; empty until then
    std::wstring m_strGameFolder; // the folder name the dialog proposes

protected:
    // Handlers, on the thread that runs DoModal.
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnBrowse();

    DECLARE_MESSAGE_MAP()
};
