// The finishing steps on the real shell: the work files go, the desktop
// shortcut of the Wine test prefix is replaced and read back through
// IShellLinkW. Every file written lies inside the prefix (drive C:).
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "../support/scratch_folder.h"
#include "ui/tollgrove_dlg.h"

namespace {

class FinishingDlg : public CTollgroveDlg
{
public:
    using CTollgroveDlg::CreateGameShortcut;
    using CTollgroveDlg::DeleteWorkFiles;
};

std::wstring Desktop()
{
    wchar_t path[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return {};
    return path;
}

// The test prefix keeps the desktop on its own drive C: (a fresh prefix
// would link it to the build host's home, on Z:).
bool DesktopInsidePrefix(const std::wstring& desktop)
{
    return desktop.size() > 3 && _wcsnicmp(desktop.c_str(), L"C:\\users\\", 9) == 0;
}

void Touch(const std::wstring& path)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ::WriteFile(h, "x", 1, &n, nullptr);
    ::CloseHandle(h);
}

bool Exists(const std::wstring& p)
{
    return ::PathFileExistsW(p.c_str()) != FALSE;
}

struct LinkFields
{
    HRESULT loaded = E_FAIL;
    std::wstring target;
    std::wstring workingDirectory;
    std::wstring arguments;
};

LinkFields ReadLink(const std::wstring& link)
{
    LinkFields f;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* sl = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&sl)))) {
        IPersistFile* pf = nullptr;
        if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf)))) {
            f.loaded = pf->Load(link.c_str(), STGM_READ);
            wchar_t buf[MAX_PATH] = {};
            if (SUCCEEDED(f.loaded)) {
                sl->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH);
                f.target = buf;
                buf[0] = 0;
                sl->GetWorkingDirectory(buf, MAX_PATH);
                f.workingDirectory = buf;
                buf[0] = 0;
                sl->GetArguments(buf, MAX_PATH);
                f.arguments = buf;
            }
            pf->Release();
        }
        sl->Release();
    }
    ::CoUninitialize();
    return f;
}

class Finishing : public testing::Test
{
protected:
    void SetUp() override
    {
        m_desktop = Desktop();
        ASSERT_FALSE(m_desktop.empty());
        ASSERT_TRUE(DesktopInsidePrefix(m_desktop)) << "the desktop is not the test prefix's own folder";
        Touch(m_install + L"\\launcher.exe");
        m_dlg.m_strInstallPath = m_install;
    }
    void TearDown() override
    {
        for (const std::wstring& link : m_links)
            ::DeleteFileW(link.c_str());
    }
    std::wstring Link(const std::wstring& name)
    {
        m_links.push_back(m_desktop + L"\\" + name + L".lnk");
        return m_links.back();
    }

    FinishingDlg m_dlg;
    ScratchFolder m_installFolder{"finish"};
    const std::wstring m_install = m_installFolder.Path();
    std::wstring m_desktop;
    std::vector<std::wstring> m_links;
};

TEST_F(Finishing, ShortcutReplacesTheOldOneAndRunFileBecomesAbsolute)
{
    const std::wstring oldLink = Link(L"TG Test Demo Beta");
    const std::wstring newLink = Link(L"TG Test Demo");
    Touch(oldLink);
    m_dlg.m_strRunFile = L"bin\\demo.exe";
    m_dlg.m_strShortcutFile = L"launcher.exe";
    m_dlg.m_strShortcutName = L"TG Test Demo";
    m_dlg.m_strShortcutDelete = L"TG Test Demo Beta";
    EXPECT_TRUE(m_dlg.CreateGameShortcut());
    EXPECT_EQ(m_dlg.m_strRunFile, m_install + L"\\bin\\demo.exe");
    EXPECT_FALSE(Exists(oldLink));
    const LinkFields f = ReadLink(newLink);
    ASSERT_EQ(f.loaded, S_OK);
    EXPECT_EQ(f.target, m_install + L"\\launcher.exe");
    EXPECT_EQ(f.workingDirectory, m_install);
    EXPECT_EQ(f.arguments, L"");
}

TEST_F(Finishing, SameNameIsDeletedThenMadeAnewAndTheTargetIsNormalised)
{
    const std::wstring link = Link(L"TG Test Same");
    Touch(link); // not a link: only a new one loads
    m_dlg.m_strRunFile = L"game.exe";
    m_dlg.m_strShortcutFile = L"sub/../launcher.exe";
    m_dlg.m_strShortcutName = L"TG Test Same";
    m_dlg.m_strShortcutDelete = L"TG Test Same";
    EXPECT_TRUE(m_dlg.CreateGameShortcut());
    const LinkFields f = ReadLink(link);
    ASSERT_EQ(f.loaded, S_OK);
    EXPECT_EQ(f.target, m_install + L"\\launcher.exe");
}

TEST_F(Finishing, NamesTooLongForAPathMakeNoShortcut)
{
    m_dlg.m_strRunFile = L"game.exe";
    m_dlg.m_strShortcutFile = L"launcher.exe";
    m_dlg.m_strShortcutName = std::wstring(300, L'n');
    m_dlg.m_strShortcutDelete = L"TG Test Never";
    EXPECT_TRUE(m_dlg.CreateGameShortcut());
    EXPECT_EQ(m_dlg.m_strRunFile, m_install + L"\\game.exe");
    EXPECT_EQ(CreateShellLink(m_install + L"\\" + std::wstring(300, L'x'), Link(L"TG Test Long"), m_install),
              E_INVALIDARG);
    EXPECT_FALSE(Exists(m_links.back()));
}

TEST_F(Finishing, WorkFilesGoTheCacheFileStays)
{
    const std::wstring files[] = {m_install + L"\\demo.torrent", m_install + L"\\tollgrove.dat",
                                  m_install + L"\\demo.dhtstate", m_install + L"\\demo.resume"};
    const std::wstring cache = m_install + L"\\tollgrove.cache";
    for (int i = 0; i < 4; ++i)
        if (i != 2) // a missing DHT state file does not keep the others
            Touch(files[i]);
    Touch(cache);
    m_dlg.m_strTorrentPath = files[0];
    m_dlg.m_strConfigPath = files[1];
    m_dlg.m_strDhtStatePath = files[2];
    m_dlg.m_strResumePath = files[3];
    m_dlg.DeleteWorkFiles();
    for (const std::wstring& f : files)
        EXPECT_FALSE(Exists(f));
    EXPECT_TRUE(Exists(cache));
    ::DeleteFileW(cache.c_str());
}

} // namespace
