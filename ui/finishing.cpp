// What the main window does once a download has completed (work files and
// the desktop shortcut), and Play. GUI thread, after the worker has ended;
// COM lives on this thread only for one CreateShellLink call.
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "download/support_routines.h"
#include "download/win_handles.h"
#include "ui/finishing_paths.h"
#include "ui/tollgrove_dlg.h"

HRESULT CreateShellLink(const std::wstring& target, const std::wstring& link, const std::wstring& workingDirectory)
{
    if (target.size() >= MAX_PATH || link.size() >= MAX_PATH || workingDirectory.size() >= MAX_PATH)
        return E_INVALIDARG; // the link's fields and Save's buffer hold MAX_PATH characters
    wchar_t fullPath[MAX_PATH] = {};
    const DWORD n = ::GetFullPathNameW(target.c_str(), MAX_PATH, fullPath, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return E_FAIL; // a larger answer is the size it needs, not a path
    ComApartment com;
    if (!com.Ready())
        return com.Result(); // no apartment: no link
    // Declared after the apartment, so both are released before it ends.
    ComPtr<IShellLinkW> shellLink;
    HRESULT hr =
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.ReceiveVoid());
    if (FAILED(hr))
        return hr;
    ComPtr<IPersistFile> file;
    hr = shellLink->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
    if (FAILED(hr))
        return hr;
    hr = shellLink->SetPath(fullPath);
    if (FAILED(hr))
        return hr;
    hr = shellLink->SetWorkingDirectory(workingDirectory.c_str());
    if (FAILED(hr))
        return hr;
    wchar_t linkPath[MAX_PATH] = {};
    lstrcpynW(linkPath, link.c_str(), MAX_PATH);
    return file->Save(linkPath, TRUE);
}

void CTollgroveDlg::DeleteWorkFiles()
{
    // Each on its own: a missing file does not keep the others.
    ::DeleteFileW(m_strTorrentPath.c_str());
    ::DeleteFileW(m_strConfigPath.c_str());
    ::DeleteFileW(m_strDhtStatePath.c_str());
    ::DeleteFileW(m_strResumePath.c_str());
}

BOOL CTollgroveDlg::CreateGameShortcut()
{
    m_strRunFile = tollgrove::InstallRelativePath(m_strInstallPath, m_strRunFile);
    const std::wstring target = tollgrove::InstallRelativePath(m_strInstallPath, m_strShortcutFile);

    wchar_t desktop[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop) != S_OK)
        return FALSE;
    const std::wstring oldLink = tollgrove::DesktopLinkPath(desktop, m_strShortcutDelete);
    const std::wstring newLink = tollgrove::DesktopLinkPath(desktop, m_strShortcutName);
    // A name too long for a path is not cut into another file's name.
    if (oldLink.size() < MAX_PATH)
        ::DeleteFileW(oldLink.c_str());
    if (newLink.size() < MAX_PATH && target.size() < MAX_PATH)
        CreateShellLink(target, newLink, m_strInstallPath);
    return TRUE;
}

void CTollgroveDlg::OnPlay()
{
    // Only a program named by its ".exe" is started: a RunFile without it
    // names no program file, and nothing made up from it is run.
    if (!tollgrove::NamesProgramFile(m_strRunFile))
        WriteUpdateLog(L"Play: RunFile names no .exe program, nothing started: " + m_strRunFile);
    // Quoted: the install folder usually has blanks ("C:\Tro choi Demo"),
    // and unquoted the system would try "C:\Tro.exe" first and the game
    // would get the rest of its path as arguments.
    else if (LaunchProgram(L"\"" + m_strRunFile + L"\"") == 0)
        WriteUpdateLog(L"Play: could not start " + m_strRunFile);
    ::PostQuitMessage(0);
}
