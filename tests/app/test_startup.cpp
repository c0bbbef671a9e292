// The real program from its entry point: wWinMain drives the application
// object, which runs the main window modally; closing hides it, Exit ends
// the process with status 0.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "../support/host_path.h"
#include "../support/scratch_folder.h"
#include "resource.h"

namespace {

constexpr DWORD kBound = 30000; // ms: every wait of this test ends by itself

struct FindArgs
{
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lParam)
{
    FindArgs* args = reinterpret_cast<FindArgs*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    wchar_t caption[64] = {};
    ::GetWindowTextW(hwnd, caption, 64);
    if (pid == args->pid && std::wstring(caption) == L"Tollgrove 3.0" && ::GetDlgItem(hwnd, IDC_PEER_LIST)) {
        args->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

template <typename Pred> bool WaitUntil(Pred pred)
{
    DWORD start = ::GetTickCount();
    while (!pred()) {
        if (::GetTickCount() - start > kBound)
            return false;
        ::Sleep(50);
    }
    return true;
}

class Program
{
public:
    // The program runs from a folder of its own whose cache file names an
    // existing install folder, so its first attempt asks nothing and ends
    // at once (there is no configuration).
    Program()
    {
        std::wstring exe = m_dir + L"\\tollgrove.exe";
        if (!::CopyFileW(HostPath(TG_EXE_PATH).c_str(), exe.c_str(), FALSE))
            return;
        ::WritePrivateProfileStringW(L"Setup", L"InstallPath", m_dir.c_str(), (m_dir + L"\\tollgrove.cache").c_str());
        std::wstring cmd = L"\"" + exe + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        m_started =
            ::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, m_dir.c_str(), &si, &m_pi);
    }
    ~Program()
    {
        if (m_started) {
            if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) // a failed test left it running
                ::TerminateProcess(m_pi.hProcess, 99);
            ::WaitForSingleObject(m_pi.hProcess, kBound);
            ::CloseHandle(m_pi.hThread);
            ::CloseHandle(m_pi.hProcess);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_started != FALSE; }
    HWND WaitForWindow()
    {
        FindArgs args = {m_pi.dwProcessId, nullptr};
        WaitUntil([&] {
            args.found = nullptr;
            ::EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&args));
            return args.found != nullptr && ::IsWindowVisible(args.found);
        });
        return args.found;
    }
    bool Running() const { return ::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitForEnd(DWORD* exitCode)
    {
        if (::WaitForSingleObject(m_pi.hProcess, kBound) != WAIT_OBJECT_0)
            return false;
        return ::GetExitCodeProcess(m_pi.hProcess, exitCode) != FALSE;
    }

private:
    ScratchFolder m_folder{"startup"};
    const std::wstring m_dir = m_folder.Path();
    PROCESS_INFORMATION m_pi = {};
    BOOL m_started = FALSE;
};

TEST(Startup, MainWindowRunsUntilExitAndCloseOnlyHidesIt)
{
    Program program;
    ASSERT_TRUE(program.Started());
    HWND window = program.WaitForWindow();
    ASSERT_NE(window, nullptr) << "the main window did not appear";

    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindowVisible(window); })) << "the close box hides the window";
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(::IsWindow(window));

    ::PostMessageW(::GetDlgItem(window, IDC_BTN_EXIT), BM_CLICK, 0, 0);
    DWORD exitCode = 12345;
    ASSERT_TRUE(program.WaitForEnd(&exitCode)) << "Exit did not end the program";
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
