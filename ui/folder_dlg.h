// CFolderDlg: the shell's folder browser (SHBrowseForFolderW) around one
// choice. Runs on the calling thread, which it makes a single-threaded COM
// apartment for the length of DoModal; the browser's modal loop runs there.
#pragma once
#include <windows.h>

#include <string>

#include "framework/framework.h"

class CFolderDlg
{
public:
    // initialFolder may be null or empty: the current directory is then
    // preselected. Overwrites the preselection every browser shares.
    CFolderDlg(LPCWSTR initialFolder, CWnd* pOwner);

    // IDOK when a folder with a file-system path was chosen, else IDCANCEL
    // (also when COM cannot be set up on this thread: nothing is shown).
    virtual INT_PTR DoModal();
    std::wstring GetFolderPath() const { return m_strFolderPath; }

    BOOL m_bHideNewFolderButton;  // no "new folder" button while set
    CWnd* m_pOwner;               // not owned; may be null
    std::wstring m_strTitle;      // shown above the folder tree
    std::wstring m_strFolderPath; // the last choice; empty when none

    // The browser's callback: preselects s_initialFolder, shows the
    // selected folder's path as status text. Always 0.
    static int CALLBACK BrowseCallbackProc(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

    // The folder the next browser preselects (written by each constructor,
    // read by the callback, both on the browsing thread).
    static std::wstring s_initialFolder;
};
