#include "ui/folder_dlg.h"

#include <objbase.h>
#include <shlobj.h>

#include "download/win_handles.h"

std::wstring CFolderDlg::s_initialFolder;

namespace {

constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;

} // namespace

CFolderDlg::CFolderDlg(LPCWSTR initialFolder, CWnd* pOwner) : m_bHideNewFolderButton(TRUE), m_pOwner(pOwner)
{
    s_initialFolder = initialFolder ? initialFolder : L"";
    if (s_initialFolder.empty()) {
        wchar_t current[MAX_PATH] = {};
        // Too long a current directory leaves the buffer empty: no preselection.
        if (::GetCurrentDirectoryW(MAX_PATH, current) != 0)
            s_initialFolder = current;
    }
}

INT_PTR CFolderDlg::DoModal()
{
    m_strFolderPath.clear();
    ComApartment com;
    if (!com.Ready())
        return IDCANCEL;
    ComPtr<IMalloc> malloc; // declared after the apartment: released before it ends
    if (SUCCEEDED(::CoGetMalloc(MEMCTX_TASK, malloc.Receive())) && malloc.Get()) {
        wchar_t name[MAX_PATH] = {};
        BROWSEINFOW bi = {};
        bi.hwndOwner = m_pOwner ? m_pOwner->GetSafeHwnd() : nullptr;
        bi.pidlRoot = nullptr;
        bi.pszDisplayName = name;
        bi.lpszTitle = m_strTitle.c_str();
        bi.ulFlags = kBrowseFlags | (m_bHideNewFolderButton ? BIF_NONEWFOLDERBUTTON : 0);
        bi.lpfn = &CFolderDlg::BrowseCallbackProc;
        bi.lParam = 0;
        if (PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&bi)) {
            if (::SHGetPathFromIDListW(item, name))
                m_strFolderPath = name;
            malloc->Free(item);
        }
    }
    return m_strFolderPath.empty() ? IDCANCEL : IDOK;
}

int CALLBACK CFolderDlg::BrowseCallbackProc(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM)
{
    if (uMsg == BFFM_INITIALIZED) {
        if (!s_initialFolder.empty())
            ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(s_initialFolder.c_str()));
    } else if (uMsg == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        if (::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            ::SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}
