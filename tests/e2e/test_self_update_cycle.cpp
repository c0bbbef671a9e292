// The whole program under Wine against a real update server on 127.0.0.1:
// an old build updates itself to a new one through the embedded replacer,
// the new build finds itself up to date and opens its window; a second
// start while one runs ends at once without a window or a log line.
//
// The program here is the test build of tollgrove.exe: the shipped program's
// sources, with the update host read from TOLLGROVE_TEST_UPDATE_HOST.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "../support/host_path.h"
#include "../support/process_job.h"
#include "../support/scratch_folder.h"
#include "../support/test_http_server.h"
#include "../support/update_server.h"

namespace {

const DWORD kLimitMs = 60000;

// The program with another build number in its version block: a new build
// that differs from the old one only there.
std::string WithBuildNumber(std::string program, WORD build)
{
    const unsigned char signature[] = {0xBD, 0x04, 0xEF, 0xFE}; // VS_FIXEDFILEINFO.dwSignature
    size_t at = program.find(std::string(reinterpret_cast<const char*>(signature), 4));
    if (at == std::string::npos || at + 16 > program.size())
        return std::string();
    const DWORD ls = MAKELONG(build, 0);
    std::memcpy(&program[at + 12], &ls, sizeof(ls)); // dwFileVersionLS
    return program;
}

// The low half of the file version ("3.0.0.N" gives N), 0 when unreadable.
DWORD BuildNumberOf(const std::wstring& path)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (!size)
        return 0;
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length))
        return 0;
    return LOWORD(info->dwFileVersionLS);
}

std::wstring ImageOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return std::wstring();
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    BOOL ok = QueryFullProcessImageNameW(process, 0, path, &length);
    CloseHandle(process);
    return ok ? std::wstring(path, length) : std::wstring();
}

struct WindowSearch
{
    std::wstring image;
    std::vector<DWORD> owners;
};

BOOL CALLBACK CollectOwner(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (IsWindowVisible(window) && lstrcmpiW(ImageOf(owner).c_str(), search->image.c_str()) == 0)
        search->owners.push_back(owner);
    return TRUE;
}

// The processes that show a visible top-level window and run this image.
std::vector<DWORD> WindowOwnersRunning(const std::wstring& image)
{
    WindowSearch search{image, {}};
    EnumWindows(CollectOwner, reinterpret_cast<LPARAM>(&search));
    return search.owners;
}

DWORD WaitForWindowOf(const std::wstring& image, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 100) {
        auto owners = WindowOwnersRunning(image);
        if (!owners.empty())
            return owners.front();
        Sleep(100);
    }
    return 0;
}

bool ProcessRuns(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process)
        return false;
    bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

class ProgramRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_program = ReadWholeFile(HostPath(TG_TEST_EXE));
        ASSERT_FALSE(m_program.empty());
        ASSERT_TRUE(m_server.Start(400)); // the slow update takes minutes
        m_host = L"127.0.0.1:" + std::to_wstring(m_server.Port());
        SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", m_host.c_str()); // inherited by the program
        // Whatever the main window's download tries goes to a loopback port
        // where nothing answers.
        const std::string nowhere = "127.0.0.1:" + std::to_string(m_nowhere.Port());
        ASSERT_TRUE(WriteWholeFile(m_root / L"tollgrove.dat",
                                   "[Setting]\r\nGameName=Demo\r\nLinkTorrent=http://" + nowhere +
                                       "/demo.torrent\r\nLinkHttp=http://" + nowhere +
                                       "/files/\r\nLinkReport=" + nowhere + "/report\r\n"));
        CreateDirectoryW((m_root / L"game").c_str(), nullptr);
        const std::wstring game = m_root / L"game";
        ASSERT_TRUE(WriteWholeFile(m_root / L"tollgrove.cache",
                                   "[Setup]\r\nInstallPath=" + std::string(game.begin(), game.end()) + "\r\n"));
    }

    void TearDown() override
    {
        for (DWORD owner : WindowOwnersRunning(Exe())) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, owner);
            if (process) {
                TerminateProcess(process, 0);
                WaitForSingleObject(process, 10000);
                CloseHandle(process);
            }
        }
        SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", nullptr);
    }

    std::wstring Exe() const { return m_root / m_exeName; }
    std::wstring Quoted(const std::wstring& path) const { return L"\"" + path + L"\""; }
    std::vector<std::string> Log() const { return UpdateLogLines(m_root.Path()); }

    // Polls the log until it holds this many lines.
    std::vector<std::string> WaitForLogLines(size_t count, DWORD timeoutMs) const
    {
        for (DWORD waited = 0; waited < timeoutMs && Log().size() < count; waited += 100)
            Sleep(100);
        return Log();
    }

    ScratchFolder m_root{BuildScratchBase(), CurrentTestFolderName("e2e-")};
    TestHttpServer m_server;
    RefusingPort m_nowhere;
    ProcessJob m_job; // ends whatever the run left behind with the test
    std::wstring m_host;
    std::string m_program;
    std::wstring m_exeName = L"tollgrove.exe";
};

// The program under its own name, and under a name Windows gives a copy in
// Vietnamese (blanks, and a letter outside every Western ANSI code page).
class ProgramRunCycleTest : public ProgramRunTest, public ::testing::WithParamInterface<const wchar_t*>
{
};

TEST_P(ProgramRunCycleTest, OldBuildReplacesItselfAndTheNewBuildFindsItselfUpToDate)
{
    m_exeName = GetParam();
    const std::string newBuild = WithBuildNumber(m_program, 3);
    ASSERT_FALSE(newBuild.empty());
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(9, 0, 0)));
    const SYSTEMTIME published = Utc(10, 0, 0);
    ASSERT_TRUE(m_server.Route(UpdateRoute({{200, HttpDate(published), newBuild}})));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    // The old build ends by itself once it has started the replacer.
    EXPECT_EQ(m_job.WaitFirst(kLimitMs), 0u);
    EXPECT_EQ(Log(), std::vector<std::string>{"Tollgrove exit to selfupdate"});

    // The replacer moves the new build in place and starts it: it checks
    // again, finds the server's copy, and opens its window.
    const DWORD newProgram = WaitForWindowOf(Exe(), kLimitMs);
    ASSERT_NE(newProgram, 0u);
    EXPECT_EQ(WaitForLogLines(2, kLimitMs),
              (std::vector<std::string>{"Tollgrove exit to selfupdate", "Tollgrove selfupdate => success"}));
    EXPECT_EQ(BuildNumberOf(Exe()), 3u);
    EXPECT_TRUE(ReadWholeFile(Exe()) == newBuild);
    EXPECT_EQ(LastWriteOf(Exe()), FileTimeOf(published)); // kept by the move

    // Old: the time, then the file. New: the time, then the size.
    auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.target, kUpdatePath);
        EXPECT_EQ(request.Header("Host"), std::string(m_host.begin(), m_host.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ProgramRunCycleTest,
                         ::testing::Values(L"tollgrove.exe", L"tollgrove - B\u1ea3n sao.exe"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return std::string(info.index == 0 ? "OwnName" : "VietnameseCopyName");
                         });

// On a slow line: the new build with 600 KiB more, served at 96 KiB/s,
// takes about two minutes to arrive (longer than any time limit of the
// program), and is put in place and started all the same.
TEST_F(ProgramRunTest, UpdateOnASlowLineIsPutInPlaceAndStarted)
{
    const std::string newBuild = WithBuildNumber(m_program, 3) + std::string(600 << 10, '\0');
    ASSERT_GT(newBuild.size(), 600u << 10);
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(9, 0, 0)));
    const SYSTEMTIME published = Utc(10, 0, 0);
    Answer slow{200, HttpDate(published), newBuild};
    slow.rate = 96 * 1024;
    ASSERT_TRUE(
        m_server.Route(UpdateRoute({{200, HttpDate(published), ""}, slow, {200, HttpDate(published), newBuild}})));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    const DWORD transferMs = static_cast<DWORD>(newBuild.size() / slow.rate * 1000);
    EXPECT_EQ(m_job.WaitFirst(transferMs + kLimitMs), 0u) << ::testing::PrintToString(Log());
    EXPECT_EQ(Log(), std::vector<std::string>{"Tollgrove exit to selfupdate"});

    ASSERT_NE(WaitForWindowOf(Exe(), kLimitMs), 0u);
    EXPECT_EQ(WaitForLogLines(2, kLimitMs),
              (std::vector<std::string>{"Tollgrove exit to selfupdate", "Tollgrove selfupdate => success"}));
    EXPECT_EQ(BuildNumberOf(Exe()), 3u);
    EXPECT_TRUE(ReadWholeFile(Exe()) == newBuild);
}

// An update server that trickles a byte every 10 s, from its head or from
// its body on: the request it holds up is given up (the head's time-out,
// or the floor on the body's rate), and the window opens within about two
// minutes.
struct TrickleCase
{
    const char* name;
    bool head;
    const char* logLine;
};

void PrintTo(const TrickleCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProgramTrickleTest : public ProgramRunTest, public ::testing::WithParamInterface<TrickleCase>
{
};

TEST_P(ProgramTrickleTest, WindowStillOpens)
{
    const TrickleCase& c = GetParam();
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(9, 0, 0)));
    const std::string published = HttpDate(Utc(10, 0, 0));
    Answer trickling{200, published, WithBuildNumber(m_program, 3)};
    trickling.trickle = 10;
    trickling.trickleHead = c.head;
    // The time's head comes at once when only the body trickles.
    ASSERT_TRUE(m_server.Route(
        UpdateRoute(c.head ? std::vector<Answer>{trickling} : std::vector<Answer>{{200, published, ""}, trickling})));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    ASSERT_NE(WaitForWindowOf(Exe(), 150000), 0u) << ::testing::PrintToString(Log());
    EXPECT_EQ(WaitForLogLines(1, kLimitMs), std::vector<std::string>{c.logLine});
    EXPECT_TRUE(ReadWholeFile(Exe()) == m_program);
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ProgramTrickleTest,
    ::testing::Values(TrickleCase{"HeadTrickles", true, "Tollgrove selfupdate failed. Step: 2, system error: 12002"},
                      TrickleCase{"BodyTrickles", false, "Tollgrove selfupdate failed. Step: 4, system error: 12002"}),
    [](const ::testing::TestParamInfo<TrickleCase>& info) { return std::string(info.param.name); });

// A server time that the downloaded copy cannot keep, as on a volume that
// rounds times or while a scanner holds the file. The copy is not put in
// place, the program says why and opens its window, instead of replacing
// itself and downloading again on every start without ever showing a
// window. 1601-01-01 00:00:00 is file time 0, which SetFileTime takes as
// "leave unchanged" on Windows and under both Wine loaders, on every file
// system; a late year is kept by some file systems and not by others, and
// by 32-bit Wine (32-bit time_t) not at all.
TEST_F(ProgramRunTest, CopyThatDoesNotKeepTheServersTimeIsNotPutInPlace)
{
    const std::string newBuild = WithBuildNumber(m_program, 3);
    ASSERT_FALSE(newBuild.empty());
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(9, 0, 0)));
    const DWORD oldBuild = BuildNumberOf(Exe());
    ASSERT_TRUE(m_server.Route(UpdateRoute({{200, "Mon, 01 Jan 1601 00:00:00 GMT", newBuild}})));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    const DWORD program = WaitForWindowOf(Exe(), kLimitMs);
    ASSERT_NE(program, 0u) << "no window: " << ::testing::PrintToString(Log());
    EXPECT_EQ(
        WaitForLogLines(2, kLimitMs),
        (std::vector<std::string>{"Tollgrove selfupdate: the new copy did not keep the server's time, not replaced",
                                  "Tollgrove selfupdate failed. Step: 4, system error: 0"}));
    EXPECT_EQ(BuildNumberOf(Exe()), oldBuild);
    EXPECT_EQ(m_server.Requests().size(), 2u); // the time, then the file; once
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
}

// A date that 32-bit Wine's WinINet could not convert (it read through a
// null result and the program died before its window): now parsed by the
// program itself. Whether the copy keeps the year 2500 depends on the file
// system and the loader; either way the program lives and a window opens.
TEST_F(ProgramRunTest, LateServerTimeStillOpensAWindow)
{
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(9, 0, 0)));
    ASSERT_TRUE(m_server.Route(UpdateRoute({{200, "Fri, 01 Jan 2500 00:00:00 GMT", WithBuildNumber(m_program, 3)}})));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    ASSERT_NE(WaitForWindowOf(Exe(), kLimitMs), 0u) << "no window: " << ::testing::PrintToString(Log());
    const auto log = WaitForLogLines(1, kLimitMs);
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.front() == "Tollgrove selfupdate: the new copy did not keep the server's time, not replaced" ||
                log.front() == "Tollgrove exit to selfupdate")
        << log.front();
}

// Started from another working folder, the program still works beside its
// executable. A second start while it runs leaves at once: no window, no log
// line, no request; the first goes on.
TEST_F(ProgramRunTest, UpToDateProgramOpensItsWindowAndASecondStartLeavesSilently)
{
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    ASSERT_TRUE(SetLastWrite(Exe(), Utc(10, 0, 0)));
    ASSERT_TRUE(m_server.Route(UpdateRoute({{200, HttpDate(Utc(10, 0, 30)), m_program}})));
    const std::wstring elsewhere = m_root / L"elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), elsewhere, L"", 0));
    const DWORD first = WaitForWindowOf(Exe(), kLimitMs);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(WaitForLogLines(1, kLimitMs), std::vector<std::string>{"Tollgrove selfupdate => success"});
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
    EXPECT_FALSE(FileExists(elsewhere + L"\\logs"));
    EXPECT_EQ(m_server.Requests().size(), 2u);

    ChildProcess second;
    ASSERT_TRUE(second.Start(Quoted(Exe()), m_root.Path(), 0));
    EXPECT_NE(second.Wait(kLimitMs), static_cast<DWORD>(STILL_ACTIVE));
    for (DWORD owner : WindowOwnersRunning(Exe()))
        EXPECT_EQ(owner, first);
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_EQ(m_server.Requests().size(), 2u);
    EXPECT_TRUE(ProcessRuns(first));
}

TEST_F(ProgramRunTest, UnreachableServerIsLoggedAndTheWindowStillOpens)
{
    ASSERT_TRUE(WriteWholeFile(Exe(), m_program));
    SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", (L"127.0.0.1:" + std::to_wstring(m_nowhere.Port())).c_str());

    ASSERT_TRUE(m_job.Start(Quoted(Exe()), m_root.Path(), L"", 0));
    ASSERT_NE(WaitForWindowOf(Exe(), kLimitMs), 0u);
    EXPECT_EQ(WaitForLogLines(1, kLimitMs),
              std::vector<std::string>{"Tollgrove selfupdate failed. Step: 2, system error: " +
                                       std::to_string(12029)}); // ERROR_INTERNET_CANNOT_CONNECT
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
}

} // namespace
