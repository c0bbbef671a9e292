// The install-folder dialog on the program's own template, driven in its
// real modal loop from a test thread; the folder-creation walk; the folder
// browser opened from the dialog.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "../support/scratch_folder.h"
#include "dialog_driver.h"
#include "ui/directory_tree.h"
#include "ui/folder_dlg.h"
#include "ui/path_install_dlg.h"

namespace {

using namespace dialog_driver;

const wchar_t kCaption[] = L"Chọn đường dẫn làm nơi chứa source game";
const wchar_t kErrorCaption[] = L"Lỗi chọn thư mục";

// A drive letter that Wine does not map.
std::wstring MissingDrive()
{
    const DWORD drives = ::GetLogicalDrives();
    for (wchar_t d = L'Y'; d > L'D'; --d)
        if (!(drives & (1u << (d - L'A'))))
            return std::wstring(1, d) + L":";
    return L"";
}

// Whether the browser tree's selected item comes to be the leaf: the
// browser expands towards its preselection level by level, so an OK pressed
// early would take a folder on the way.
bool WaitForTreeSelection(HWND browser, const std::wstring& leaf, DWORD ms = kWaitMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (HWND tree = ::FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr)) {
            wchar_t text[MAX_PATH] = {};
            TVITEMW item = {};
            item.mask = TVIF_TEXT;
            item.hItem = TreeView_GetSelection(tree);
            item.pszText = text;
            item.cchTextMax = MAX_PATH;
            if (item.hItem && TreeView_GetItem(tree, &item) && _wcsicmp(text, leaf.c_str()) == 0)
                return true;
        }
        if (::GetTickCount() - start > ms)
            return false;
        ::Sleep(50);
    }
}

bool Exists(const std::wstring& p)
{
    return ::PathFileExistsW(p.c_str()) != FALSE;
}

TEST(PathInstallDlg, TemplateAndFirstTextThenCancel)
{
    CPathInstallDlg dlg(nullptr, L"MyGame");
    EXPECT_STREQ(dlg.GetRuntimeClass()->m_lpszClassName, "CPathInstallDlg");
    bool checked = false;
    Driver driver({kCaption}, [&] {
        HWND h = WaitForDialog(kCaption);
        ASSERT_NE(h, nullptr);
        const DWORD style = static_cast<DWORD>(::GetWindowLongW(h, GWL_STYLE));
        EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
                  static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME));
        EXPECT_EQ(style & WS_SYSMENU, 0u) << "no close box";
        struct Expected
        {
            int id;
            const wchar_t* cls;
            const wchar_t* text;
            RECT dlu; // x, y, width, height
        };
        const Expected controls[] = {
            {IDOK, L"Button", L"OK", {175, 33, 50, 14}},
            {IDCANCEL, L"Button", L"Cancel", {230, 33, 50, 14}},
            {IDC_EDIT_PATH, L"Edit", L"C:\\MyGame", {6, 9, 274, 14}},
            {IDC_BTN_BROWSE, L"Button", L"...", {283, 8, 34, 16}},
        };
        HWND child = ::GetWindow(h, GW_CHILD);
        for (const Expected& e : controls) {
            SCOPED_TRACE(e.id);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(::GetDlgCtrlID(child), e.id); // template order is the tab order
            wchar_t cls[32] = {};
            ::GetClassNameW(child, cls, 32);
            EXPECT_STREQ(cls, e.cls);
            EXPECT_EQ(Text(child), e.text);
            const DWORD s = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
            EXPECT_TRUE(s & WS_TABSTOP);
            EXPECT_TRUE(s & WS_VISIBLE);
            if (e.id == IDOK) {
                EXPECT_EQ(s & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
            }
            if (e.id == IDC_EDIT_PATH) {
                EXPECT_TRUE(s & ES_AUTOHSCROLL);
                EXPECT_TRUE((s & WS_BORDER) || (::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
            }
            RECT place = {e.dlu.left, e.dlu.top, e.dlu.right, e.dlu.bottom};
            ::MapDialogRect(h, &place);
            RECT actual;
            ::GetWindowRect(child, &actual);
            ::MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_EQ(actual.left, place.left);
            EXPECT_EQ(actual.top, place.top);
            EXPECT_EQ(actual.right - actual.left, place.right);
            EXPECT_EQ(actual.bottom - actual.top, place.bottom);
            child = ::GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr);
        RECT client;
        ::GetClientRect(h, &client);
        RECT size = {0, 0, 324, 55};
        ::MapDialogRect(h, &size);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
        checked = true;
        Press(h, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(dlg.m_strPath.empty());
}

TEST(PathInstallDlg, EscapeCancelsAndAnEmptyNameProposesTheDriveRoot)
{
    CPathInstallDlg dlg(nullptr, L"");
    std::wstring first;
    Driver driver({kCaption}, [&] {
        HWND h = WaitForDialog(kCaption);
        ASSERT_NE(h, nullptr);
        first = Text(::GetDlgItem(h, IDC_EDIT_PATH));
        ::PostMessageW(::GetDlgItem(h, IDC_EDIT_PATH), WM_KEYDOWN, VK_ESCAPE, 1);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(first, L"C:\\");
}

// OK with a text: accepted (and the dialog ends with IDOK) or refused with
// the error box, after which the dialog stays open and Cancel ends it.
struct OkCase
{
    const char* name;
    std::wstring (*text)(const std::wstring& temp);
    bool accepted;
    std::wstring (*mustExist)(const std::wstring& temp); // null: nothing
    std::wstring (*chosen)(const std::wstring& temp);    // the accepted path; null: the text as typed
};

// The current directory for one case: the temporary folder, as the
// program's folder is while the dialog runs.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const std::wstring& path)
    {
        ::GetCurrentDirectoryW(MAX_PATH, m_saved);
        ::SetCurrentDirectoryW(path.c_str());
    }
    ~CurrentDirectory() { ::SetCurrentDirectoryW(m_saved); }

private:
    wchar_t m_saved[MAX_PATH] = {};
};

class PathInstallOk : public testing::TestWithParam<OkCase>
{
};

void PrintTo(const OkCase& c, std::ostream* os)
{
    *os << c.name;
}

TEST_P(PathInstallOk, AcceptsOrShowsTheErrorBox)
{
    const OkCase& c = GetParam();
    ScratchFolder temp{"install"};
    const CurrentDirectory inTemp(temp.Path());
    const std::wstring typed = c.text(temp.Path());
    CPathInstallDlg dlg(nullptr, L"MyGame");
    std::wstring boxText;
    bool boxSeen = false, stayedOpen = false;
    Driver driver({kCaption, kErrorCaption}, [&] {
        HWND h = WaitForDialog(kCaption);
        ASSERT_NE(h, nullptr);
        SetItemText(h, IDC_EDIT_PATH, typed);
        Press(h, IDOK);
        if (c.accepted)
            return;
        HWND box = WaitForDialog(kErrorCaption, h);
        ASSERT_NE(box, nullptr) << "no error box";
        boxSeen = true;
        boxText = MessageBoxText(box);
        EXPECT_FALSE(::IsWindowEnabled(h)) << "the box is modal to the dialog";
        Press(box, IDOK);
        ASSERT_TRUE(WaitGone(box));
        ::Sleep(100);
        stayedOpen = ::IsWindow(h) && ::IsWindowVisible(h);
        Press(h, IDCANCEL);
    });
    const INT_PTR result = dlg.DoModal();
    if (c.accepted) {
        EXPECT_EQ(result, IDOK);
    } else {
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_TRUE(boxSeen);
        EXPECT_EQ(boxText, L"Đường dẫn không chính xác. Vui lòng chọn lai.");
        EXPECT_TRUE(stayedOpen);
    }
    // The accepted folder, absolute; the refused text as it was typed.
    EXPECT_EQ(dlg.m_strPath, c.accepted && c.chosen ? c.chosen(temp.Path()) : typed);
    if (c.mustExist) {
        EXPECT_TRUE(Exists(c.mustExist(temp.Path())));
    }
}

const OkCase kOkCases[] = {
    {"ExistingFolder", [](const std::wstring& t) { return t; }, true, nullptr, nullptr},
    {"MissingNestedFolderIsMadeLevelByLevel", [](const std::wstring& t) { return t + L"\\a\\b\\c"; }, true,
     [](const std::wstring& t) { return t + L"\\a\\b\\c"; }, nullptr},
    {"ExistingFileIsRefused",
     [](const std::wstring& t) {
         const std::wstring f = t + L"\\file.txt";
         ::CloseHandle(::CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
         return f;
     },
     false, nullptr, nullptr},
    // No folder can be made of it: it would put the work files at the root
    // of the current drive.
    {"EmptyTextIsRefused", [](const std::wstring&) { return std::wstring(); }, false, nullptr, nullptr},
    {"RelativeFolderIsMadeAbsoluteAgainstTheCurrentFolder",
     [](const std::wstring&) { return std::wstring(L"Games\\X"); }, true,
     [](const std::wstring& t) { return t + L"\\Games\\X"; }, [](const std::wstring& t) { return t + L"\\Games\\X"; }},
    {"ParentPartsAreResolved", [](const std::wstring& t) { return t + L"\\a\\..\\b"; }, true,
     [](const std::wstring& t) { return t + L"\\b"; }, [](const std::wstring& t) { return t + L"\\b"; }},
    {"DriveThatDoesNotExist", [](const std::wstring&) { return MissingDrive() + L"\\Games\\MyGame"; }, false, nullptr,
     nullptr},
    {"LevelThatCannotBeMadeKeepsTheLevelsBefore", [](const std::wstring& t) { return t + L"\\made\\bad|name\\x"; },
     false, [](const std::wstring& t) { return t + L"\\made"; }, nullptr},
    {"PathTooLongForTheWalkIsRefused", [](const std::wstring& t) { return t + L"\\" + std::wstring(300, L'x'); }, false,
     nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, PathInstallOk, testing::ValuesIn(kOkCases),
                         [](const testing::TestParamInfo<OkCase>& info) { return std::string(info.param.name); });

TEST(CreateDirectoryTree, WalksEveryLevel)
{
    ScratchFolder temp{"install"};
    EXPECT_EQ(CreateDirectoryTree(nullptr), 1);
    EXPECT_EQ(CreateDirectoryTree(L""), 1);
    EXPECT_EQ(CreateDirectoryTree((temp.Path() + L"\\x\\y\\").c_str()), 1); // a trailing backslash ends the walk
    EXPECT_TRUE(Exists(temp.Path() + L"\\x\\y"));
    // A leading backslash gives an empty first level, which cannot be made.
    EXPECT_EQ(CreateDirectoryTree(L"\\tg-root-relative"), 0);
    EXPECT_FALSE(Exists(L"\\tg-root-relative"));
    const std::wstring longPath = temp.Path() + L"\\" + std::wstring(MAX_PATH, L'z');
    EXPECT_EQ(CreateDirectoryTree(longPath.c_str()), 0);
    // Just under the buffer still works, level by level.
    std::wstring fits = temp.Path();
    while (fits.size() + 11 < MAX_PATH)
        fits += L"\\abcdefghi";
    EXPECT_EQ(CreateDirectoryTree(fits.c_str()), 1);
    EXPECT_TRUE(Exists(fits));
}

TEST(PathInstallDlg, BrowseStartsInTheCurrentFolderAndAppendsTheGameName)
{
    // Under the drive's root: Wine's browser does not always walk its tree
    // down into the profile's folders, and would stop at the user's folder.
    ScratchFolder temp(L"C:\\", "install");
    wchar_t before[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(::SetCurrentDirectoryW(temp.Path().c_str()));
    CPathInstallDlg dlg(nullptr, L"MyGame");
    std::wstring afterBrowse;
    HWND browserOwner = nullptr, dialog = nullptr;
    Driver driver({kCaption}, [&] {
        dialog = WaitForDialog(kCaption);
        ASSERT_NE(dialog, nullptr);
        Press(dialog, IDC_BTN_BROWSE);
        HWND browser = WaitForDialog(nullptr, dialog);
        ASSERT_NE(browser, nullptr) << "no folder browser";
        browserOwner = ::GetWindow(browser, GW_OWNER);
        const std::wstring leaf = temp.Path().substr(temp.Path().rfind(L'\\') + 1);
        EXPECT_TRUE(WaitForTreeSelection(browser, leaf)) << "the browser never reached the current folder";
        Press(browser, IDOK);
        ASSERT_TRUE(WaitGone(browser));
        ::Sleep(100);
        afterBrowse = Text(::GetDlgItem(dialog, IDC_EDIT_PATH));
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ::SetCurrentDirectoryW(before);
    EXPECT_EQ(browserOwner, dialog);
    EXPECT_EQ(CFolderDlg::s_initialFolder, temp.Path());
    wchar_t longName[MAX_PATH] = {};
    ::GetLongPathNameW(temp.Path().c_str(), longName, MAX_PATH);
    EXPECT_TRUE(afterBrowse == temp.Path() + L"\\MyGame" || afterBrowse == std::wstring(longName) + L"\\MyGame")
        << std::string(afterBrowse.begin(), afterBrowse.end());
}

} // namespace
