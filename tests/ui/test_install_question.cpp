// The attempt's install-folder question from the real main window: asked on
// the worker thread over the disabled main window; Cancel ends the program
// with the quit message and no result; OK makes the folder the install
// folder. A program of its own, in a folder of its own: the attempt reads
// the cache file beside the program.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"
#include "dialog_driver.h"
#include "scripted_main_dlg.h"

namespace {

// No cache file beside the program: the attempt asks.
class InstallQuestion : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t exe[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring dir = exe;
        dir.resize(dir.rfind(L'\\'));
        ::DeleteFileW((dir + L"\\tollgrove.cache").c_str());
        ::DeleteFileW((dir + L"\\tollgrove.dat").c_str());
    }
};

const wchar_t kPromptCaption[] = L"Chọn đường dẫn làm nơi chứa source game";

// The attempt's question runs on the worker thread with the main window,
// which another thread owns, as parent, disabled while it is open.
struct PromptSeen
{
    HWND owner = nullptr;
    bool ownerEnabled = true;
    bool otherThread = false;
    std::wstring firstText;
};

void WatchPrompt(HWND main, PromptSeen& seen, HWND& prompt)
{
    prompt = dialog_driver::WaitForDialog(kPromptCaption);
    ASSERT_NE(prompt, nullptr) << "no install-folder question";
    seen.owner = ::GetWindow(prompt, GW_OWNER);
    seen.ownerEnabled = ::IsWindowEnabled(main) != FALSE;
    seen.otherThread = ::GetWindowThreadProcessId(prompt, nullptr) != ::GetWindowThreadProcessId(main, nullptr);
    seen.firstText = dialog_driver::Text(::GetDlgItem(prompt, IDC_EDIT_PATH));
}

// Each attempt test keeps what its driver thread saw here.
PromptSeen g_seen;
HWND g_mainWindow;
std::unique_ptr<dialog_driver::Driver> g_driver;

TEST_F(InstallQuestion, CancelledQuestionEndsTheProgramWithoutAResult)
{
    g_seen = PromptSeen();
    ScriptedMainDlg dlg(false);
    dlg.script = [](ScriptedMainDlg& d) {
        // The driver starts once the window's loop runs.
        g_mainWindow = d.m_hWnd;
        g_driver = std::make_unique<dialog_driver::Driver>(std::vector<std::wstring>{kPromptCaption}, [] {
            HWND prompt = nullptr;
            WatchPrompt(g_mainWindow, g_seen, prompt);
            if (prompt)
                dialog_driver::Press(prompt, IDCANCEL);
        });
    };
    const INT_PTR result = dlg.DoModal();
    g_driver.reset();
    DrainQuit();
    EXPECT_NE(result, kTimedOut) << "the quit message did not end the window";
    EXPECT_TRUE(g_seen.otherThread);
    EXPECT_FALSE(g_seen.ownerEnabled);
    EXPECT_EQ(g_seen.owner, g_mainWindow);
    EXPECT_EQ(g_seen.firstText, L"C:\\"); // no configuration here: an empty game name
    ASSERT_TRUE(dlg.m_hWorker.IsValid());
    ASSERT_EQ(::WaitForSingleObject(dlg.m_hWorker.Get(), 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeThread(dlg.m_hWorker.Get(), &code);
    EXPECT_EQ(code, 0u); // the cancelled road's exit code
    dlg.m_hWorker.Close();
    EXPECT_EQ(dlg.workerFinished, 0);
    EXPECT_TRUE(dlg.m_strInstallPath.empty());
}

TEST_F(InstallQuestion, ChosenFolderIsMadeAndBecomesTheInstallFolder)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const ScratchFolder attempt{"attempt"};
    static std::wstring s_chosen;
    s_chosen = attempt / L"Games\\Demo";
    g_seen = PromptSeen();
    ScriptedMainDlg dlg(false);
    dlg.script = [](ScriptedMainDlg& d) {
        if (d.step++ == 0) {
            g_mainWindow = d.m_hWnd;
            g_driver = std::make_unique<dialog_driver::Driver>(std::vector<std::wstring>{kPromptCaption}, [] {
                HWND prompt = nullptr;
                WatchPrompt(g_mainWindow, g_seen, prompt);
                if (!prompt)
                    return;
                dialog_driver::SetItemText(prompt, IDC_EDIT_PATH, s_chosen);
                dialog_driver::Press(prompt, IDOK);
            });
        }
        if (d.workerFinished == 0) { // until the attempt has ended (its .torrent fetch fails here)
            ::Sleep(50);
            d.PostMessage(WM_TEST_SCRIPT);
            return;
        }
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    g_driver.reset();
    ::SetCurrentDirectoryW(temp); // the attempt made the chosen folder current
    EXPECT_EQ(g_seen.owner, g_mainWindow);
    EXPECT_FALSE(g_seen.ownerEnabled);
    EXPECT_TRUE(g_seen.otherThread);
    EXPECT_EQ(dlg.m_strInstallPath, s_chosen);
    EXPECT_TRUE(::PathFileExistsW(s_chosen.c_str()));
    EXPECT_EQ(dlg.workerFinished, 1);
}

} // namespace
