#include "ui/install_folder_prompt.h"

#include "ui/path_install_dlg.h"

INT_PTR AskInstallFolder(CWnd* parent, const std::wstring& gameFolderName, std::wstring& chosen)
{
    CPathInstallDlg dlg(parent, gameFolderName);
    const INT_PTR result = dlg.DoModal();
    if (result == IDCANCEL)
        return IDCANCEL;
    // Any other result, a dialog that could not open included, takes the
    // path as it stands (empty then).
    chosen = dlg.m_strPath;
    return result;
}
