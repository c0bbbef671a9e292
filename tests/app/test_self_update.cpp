// The self-update against a real update server on 127.0.0.1: the requests
// it makes, its outcome as start-up logs it, the files it leaves, and the
// real replacer it starts (embedded in this test program as in the shipped
// one).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "../support/fast_clock.h"
#include "../support/host_path.h"
#include "../support/scratch_folder.h"
#include "../support/test_http_server.h"
#include "../support/update_server.h"
#include "run_self_update.h"
#include "self_update.h"

namespace {

// The replacer processes this test started, to wait for them.
std::vector<DWORD> ReplacerChildren()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && lstrcmpiW(entry.szExeFile, L"engine.dat") == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

// The exit code of the replacer, once it has ended (it retries for up to
// 31 seconds); STILL_ACTIVE when none ran or it did not end.
DWORD WaitForReplacer(const std::vector<DWORD>& ids)
{
    DWORD code = STILL_ACTIVE;
    for (DWORD id : ids) {
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        if (!h)
            continue;
        if (WaitForSingleObject(h, 45000) == WAIT_OBJECT_0)
            GetExitCodeProcess(h, &code);
        else
            TerminateProcess(h, 99);
        CloseHandle(h);
    }
    return code;
}

std::string Program(size_t size)
{
    std::string bytes = "MZ";
    bytes.resize(size, 'x');
    return bytes;
}

class SelfUpdateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start(120));
        m_host = L"127.0.0.1:" + std::to_wstring(m_server.Port());
        SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", m_host.c_str());
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        m_previousDirectory = previous;
        ASSERT_TRUE(SetCurrentDirectoryW(m_root.Path().c_str()));
        CreateDirectoryW(L"logs", nullptr);
        m_newProgram = ReadWholeFile(HostPath(TG_STARTED_MARKER));
        ASSERT_FALSE(m_newProgram.empty());
    }

    void TearDown() override
    {
        WaitForReplacer(ReplacerChildren());
        SetCurrentDirectoryW(m_previousDirectory.c_str());
        SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", nullptr);
    }

    void Serve(const std::vector<Answer>& answers) { ASSERT_TRUE(m_server.Route(UpdateRoute(answers))); }

    // The local program: these bytes, last written at this UTC time.
    void Install(const std::wstring& name, const std::string& bytes, const SYSTEMTIME& lastWrite)
    {
        ASSERT_TRUE(WriteWholeFile(m_root / name, bytes));
        ASSERT_TRUE(SetLastWrite(m_root / name, lastWrite));
    }

    std::vector<std::string> LogLines() { return UpdateLogLines(m_root.Path()); }

    // A local program of 100 bytes last written in the minute of the
    // server's time (10:00:30) or an hour before, and the server's answers;
    // the program's bytes.
    std::string InstallAndServe(bool sameMinute, const std::vector<Answer>& answers)
    {
        const std::string local = Program(100);
        Install(L"tollgrove.exe", local, sameMinute ? Utc(10, 0, 0) : Utc(9, 0, 0));
        Serve(answers);
        return local;
    }

    // The new program's start record (it runs on its own after the replacer).
    std::string WaitForStartLog()
    {
        std::string log;
        for (int i = 0; i < 200; ++i, Sleep(50)) {
            log = ReadWholeFile(m_root / L"started.txt");
            if (log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") == 0)
                break;
        }
        return log;
    }

    ScratchFolder m_root{BuildScratchBase(), CurrentTestFolderName("selfupdate-")};
    TestHttpServer m_server;
    std::wstring m_host;
    std::wstring m_previousDirectory;
    std::string m_newProgram;
};

TEST_F(SelfUpdateTest, UpToDateAsksTimeAndSizeOnlyAndRemovesTheUpdateFolder)
{
    const std::string local = "MZ the program as installed";
    Install(L"tollgrove.exe", local, Utc(10, 0, 0));
    // 59 seconds later is still the same minute; 206 counts like 200.
    Serve({{200, HttpDate(Utc(10, 0, 59)), local}, {206, "", local}});

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 0);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Tollgrove selfupdate => success"});
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
    EXPECT_EQ(ReadWholeFile(m_root / L"tollgrove.exe"), local);

    auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, "GET");
        EXPECT_EQ(requests[i].target, kUpdatePath);
        int hosts = 0;
        for (const auto& header : requests[i].headers)
            hosts += RecordedRequest::Lower(header.first) == "host";
        EXPECT_EQ(hosts, 1);
        EXPECT_EQ(requests[i].Header("Host"), std::string(m_host.begin(), m_host.end()));
    }
    // The size always comes from the server, never from a cache.
    EXPECT_EQ(requests[1].Header("Pragma"), "no-cache");
}

// An update: downloaded into the update folder with the server's time,
// the replacer written beside it and started; it then moves the new program
// over the old one and starts it.
TEST_F(SelfUpdateTest, DifferentMinuteDownloadsWithoutAskingTheSizeAndStartsTheReplacer)
{
    // Three seconds later, the next minute: more than FAT's two-second step,
    // which counts as the same time.
    Install(L"tollgrove.exe", "MZ old", Utc(10, 0, 57));
    const SYSTEMTIME published = Utc(10, 1, 0);
    Serve({{200, HttpDate(published), m_newProgram}});

    // Held like a running program, so the replacer waits while we look.
    HANDLE running =
        CreateFileW((m_root / L"tollgrove.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CreateDirectoryW(kUpdateFolder, nullptr)); // as start-up does first
    int32_t step = -1, error = -1;
    EXPECT_EQ(SelfUpdate(L"tollgrove.exe", &step, &error), UPDATE_STARTED);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(error, 0);
    const auto replacer = ReplacerChildren();
    EXPECT_EQ(replacer.size(), 1u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"updatetollgrove\\tollgrove.exe") == m_newProgram);
    EXPECT_EQ(LastWriteOf(m_root / L"updatetollgrove\\tollgrove.exe"), FileTimeOf(published));
    EXPECT_TRUE(ReadWholeFile(m_root / L"updatetollgrove\\engine.dat") == ReadWholeFile(HostPath(TG_REPLACER_EXE)));
    auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 2u); // the time, then the file
    EXPECT_EQ(requests[0].Header("Pragma"), "");
    EXPECT_EQ(requests[1].Header("Pragma"), "no-cache");
    CloseHandle(running);

    EXPECT_EQ(WaitForReplacer(replacer), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"tollgrove.exe") == m_newProgram);
    EXPECT_EQ(LastWriteOf(m_root / L"tollgrove.exe"), FileTimeOf(published));
    EXPECT_EQ(WaitForStartLog(), "tollgrove.exe: tollgrove.exe\r\n");
}

TEST_F(SelfUpdateTest, StartedReplacerIsLoggedAndItsFolderKept)
{
    Install(L"tollgrove.exe", "MZ old", Utc(9, 0, 0));
    Serve({{200, HttpDate(Utc(10, 0, 0)), m_newProgram}});

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 1);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Tollgrove exit to selfupdate"});
    EXPECT_TRUE(FileExists(m_root / L"updatetollgrove\\engine.dat"));
    EXPECT_EQ(WaitForReplacer(ReplacerChildren()), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"tollgrove.exe") == m_newProgram);
}

TEST_F(SelfUpdateTest, SameMinuteDifferentSizeDownloadsAfterThreeRequests)
{
    Install(L"tollgrove.exe", "MZ old, not the server's size", Utc(10, 0, 0));
    Serve({{200, HttpDate(Utc(10, 0, 30)), m_newProgram}});

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 1);
    EXPECT_EQ(m_server.Requests().size(), 3u);
    EXPECT_EQ(WaitForReplacer(ReplacerChildren()), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"tollgrove.exe") == m_newProgram);
}

// The downloaded copy takes the local program's name, whatever it is; a name
// with a blank reaches the replacer as one argument, and the program it then
// starts is that one, not "tollgrove.exe" beside it.
TEST_F(SelfUpdateTest, LocalNameWithABlankIsReplacedAndStartedUnderThatName)
{
    Install(L"tollgrove (1).exe", "MZ old", Utc(9, 0, 0));
    ASSERT_TRUE(WriteWholeFile(m_root / L"tollgrove.exe", m_newProgram));
    Serve({{200, HttpDate(Utc(10, 0, 0)), m_newProgram}});

    EXPECT_EQ(RunSelfUpdate(L"tollgrove (1).exe"), 1);
    EXPECT_EQ(WaitForReplacer(ReplacerChildren()), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"tollgrove (1).exe") == m_newProgram);
    EXPECT_EQ(WaitForStartLog(), "tollgrove (1).exe: \"tollgrove (1).exe\"\r\n");
}

// A failing self-update: one log line with its step and error value, the
// update folder removed, the program left as it was.
struct FailureCase
{
    const char* name;
    bool sameMinute;             // else the local time is an hour older
    std::vector<Answer> answers; // what the server answers, in order
    size_t requests;             // how many it then received
    const char* logLine;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string kNow = HttpDate(Utc(10, 0, 30));
const long long kOverTheCap = kMaxUpdateBytes + 1LL;

class SelfUpdateFailureTest : public SelfUpdateTest, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(SelfUpdateFailureTest, LogsStepAndErrorAndRemovesTheUpdateFolder)
{
    const FailureCase& c = GetParam();
    const std::string local = InstallAndServe(c.sameMinute, c.answers);

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 0);
    EXPECT_EQ(LogLines(), std::vector<std::string>{c.logLine});
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
    EXPECT_EQ(ReadWholeFile(m_root / L"tollgrove.exe"), local);
    EXPECT_EQ(m_server.Requests().size(), c.requests);
    EXPECT_TRUE(ReplacerChildren().empty());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SelfUpdateFailureTest,
                         ::testing::Values(FailureCase{"SizeRequestAnswered404",
                                                       true,
                                                       {{200, kNow, ""}, {404, "", "gone"}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 3, system error: 404"},
                                           FailureCase{"ContentLengthZero",
                                                       true,
                                                       {{200, kNow, ""}, {200, "", ""}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 3, system error: 0"},
                                           FailureCase{"BodyShorterThanItsLength",
                                                       false,
                                                       {{200, kNow, ""}, {200, kNow, Program(5000), -1, 1000}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 0"},
                                           // WinINet's number conversion read "12abc" as 12, a size like any
                                           // other: a Content-Length that is no count is no size.
                                           FailureCase{"ContentLengthNotANumber",
                                                       true,
                                                       {{200, kNow, ""}, {200, "", Program(100), -1, -1, "12abc"}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 3, system error: 0"},
                                           FailureCase{"DownloadContentLengthNotANumber",
                                                       false,
                                                       {{200, kNow, ""}, {200, kNow, Program(100), -1, -1, "1oo"}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 0"},
                                           FailureCase{"DownloadLargerThanTheCap",
                                                       false,
                                                       {{200, kNow, ""}, {200, kNow, Program(100), kOverTheCap, 100}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 223"},
                                           FailureCase{"DownloadAnswered404",
                                                       false,
                                                       {{200, kNow, ""}, {404, "", Program(100)}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 404"},
                                           // Nothing to install, or not a program (an error page sent as 200):
                                           // the program must not be replaced by it.
                                           FailureCase{"DownloadEmpty",
                                                       false,
                                                       {{200, kNow, ""}, {200, kNow, ""}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 0"},
                                           FailureCase{"DownloadNotAProgram",
                                                       false,
                                                       {{200, kNow, ""}, {200, kNow, "<html>portal</html>"}},
                                                       2,
                                                       "Tollgrove selfupdate failed. Step: 4, system error: 0"},
                                           FailureCase{"NoLastModified",
                                                       true,
                                                       {{200, "", Program(100)}},
                                                       1,
                                                       "Tollgrove selfupdate failed. Step: 2, system error: 12150"},
                                           // A Last-Modified that is no date, or a date before file times
                                           // begin: step 8, never a crash (WinINet's own conversion died on
                                           // some dates under 32-bit Wine).
                                           FailureCase{"LastModifiedNotADate",
                                                       true,
                                                       {{200, "yesterday", Program(100)}},
                                                       1,
                                                       "Tollgrove selfupdate failed. Step: 8, system error: 0"},
                                           FailureCase{"LastModifiedWithoutItsZone",
                                                       true,
                                                       {{200, "Tue, 03 Nov 2026 10:00:30", Program(100)}},
                                                       1,
                                                       "Tollgrove selfupdate failed. Step: 8, system error: 0"},
                                           FailureCase{"LastModifiedBeforeFileTimesBegin",
                                                       true,
                                                       {{200, "Sat, 01 Jan 1600 00:00:00 GMT", Program(100)}},
                                                       1,
                                                       "Tollgrove selfupdate failed. Step: 8, system error: 0"},
                                           FailureCase{"LastModifiedLongerThanADate",
                                                       true,
                                                       {{200, std::string(300, 'x'), Program(100)}},
                                                       1,
                                                       "Tollgrove selfupdate failed. Step: 8, system error: 0"}),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(SelfUpdateTest, UnreachableServerFailsAtStepTwoWithTheSystemError)
{
    Install(L"tollgrove.exe", Program(100), Utc(10, 0, 0));
    RefusingPort refusing;
    ASSERT_NE(refusing.Port(), 0);
    const std::wstring host = L"127.0.0.1:" + std::to_wstring(refusing.Port());
    SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", host.c_str());

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 0);
    EXPECT_EQ(LogLines(),
              std::vector<std::string>{"Tollgrove selfupdate failed. Step: 2, system error: " +
                                       std::to_string(ERROR_INTERNET_CANNOT_CONNECT)});
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
}

// An update server that accepts and never answers: the first request is
// given up after its head time-out (the real 30 s) like an unreachable
// server, and start-up goes on to its window.
TEST_F(SelfUpdateTest, SilentServerFailsAtStepTwoAfterTheHeadTimeOut)
{
    Install(L"tollgrove.exe", Program(100), Utc(10, 0, 0));
    Answer silent;
    silent.silent = true;
    Serve({silent});
    const DWORD start = GetTickCount();
    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 0);
    EXPECT_LT(GetTickCount() - start, 45000u);
    EXPECT_EQ(LogLines(),
              std::vector<std::string>{"Tollgrove selfupdate failed. Step: 2, system error: " +
                                       std::to_string(ERROR_INTERNET_TIMEOUT)});
    EXPECT_EQ(m_server.Requests().size(), 1u);
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
}

// The program's time limits run ten times faster in the tests below: a
// server's "every 10 s" is every 1 s here.
constexpr int kScale = 10;

// A server that is silent, trickles or stops is given up by the limits, at
// the step of the request it held up, with the time-out's error; the
// program is left as it was and no replacer runs.
struct StallCase
{
    const char* name;
    bool sameMinute;
    std::vector<Answer> answers;
    int32_t step;
};

void PrintTo(const StallCase& c, std::ostream* os)
{
    *os << c.name;
}

class SelfUpdateStallTest : public SelfUpdateTest, public ::testing::WithParamInterface<StallCase>
{
};

TEST_P(SelfUpdateStallTest, FailsAtItsStepWithTheTimeOut)
{
    const StallCase& c = GetParam();
    const std::string local = InstallAndServe(c.sameMinute, c.answers);
    ASSERT_TRUE(CreateDirectoryW(kUpdateFolder, nullptr)); // as start-up does first

    const FastClock clock(kScale);
    int32_t step = 0, error = 0;
    EXPECT_EQ(SelfUpdate(L"tollgrove.exe", &step, &error, &clock), UPDATE_FAILED);
    EXPECT_EQ(step, c.step);
    EXPECT_EQ(error, static_cast<int32_t>(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(ReadWholeFile(m_root / L"tollgrove.exe"), local);
    EXPECT_TRUE(ReplacerChildren().empty());
}

Answer Stalled(Answer answer, long long stallAfter)
{
    answer.stallAfter = stallAfter;
    return answer;
}

Answer Trickled(Answer answer, double secondsPerByte)
{
    answer.trickle = secondsPerByte;
    return answer;
}

Answer SilentAnswer()
{
    Answer answer;
    answer.silent = true;
    return answer;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SelfUpdateStallTest,
    ::testing::Values(StallCase{"TimeNeverAnswered", true, {SilentAnswer()}, UPDATE_STEP_REMOTE_STAMP},
                      StallCase{"SizeNeverAnswered", true, {{200, kNow, ""}, SilentAnswer()}, UPDATE_STEP_REMOTE_SIZE},
                      StallCase{"DownloadSilentAfterTheHead",
                                false,
                                {{200, kNow, ""}, Stalled({200, kNow, Program(200000)}, 0)},
                                UPDATE_STEP_DOWNLOAD},
                      StallCase{"DownloadStopsHalfway",
                                false,
                                {{200, kNow, ""}, Stalled({200, kNow, Program(200000)}, 100000)},
                                UPDATE_STEP_DOWNLOAD},
                      StallCase{"DownloadTricklesAByteEveryTenSeconds",
                                false,
                                {{200, kNow, ""}, Trickled({200, kNow, Program(1000)}, 10.0 / kScale)},
                                UPDATE_STEP_DOWNLOAD}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

// On a slow line: the new program with 3 MiB more, at 96 KiB/s on the
// program's clock (over 30 s), is downloaded whole, put in place by the
// replacer and started.
TEST_F(SelfUpdateTest, SlowDownloadIsPutInPlaceAndStarted)
{
    const std::string newProgram = m_newProgram + std::string(3 << 20, '\0');
    Install(L"tollgrove.exe", "MZ old", Utc(9, 0, 0));
    Answer slow{200, kNow, newProgram};
    slow.rate = 96 * 1024 * kScale;
    Serve({{200, kNow, ""}, slow});
    ASSERT_TRUE(CreateDirectoryW(kUpdateFolder, nullptr));

    const FastClock clock(kScale);
    int32_t step = -1, error = -1;
    const auto start = clock.Now();
    EXPECT_EQ(SelfUpdate(L"tollgrove.exe", &step, &error, &clock), UPDATE_STARTED);
    EXPECT_GT((clock.Now() - start).count(), 30000);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(WaitForReplacer(ReplacerChildren()), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"tollgrove.exe") == newProgram);
    EXPECT_EQ(WaitForStartLog(), "tollgrove.exe: tollgrove.exe\r\n");
}

// A copy larger than the program can ever be is refused from its
// Content-Length, before the file is created; at the cap it is taken.
TEST_F(SelfUpdateTest, DownloadAboveTheSizeCapIsRefusedBeforeAnythingIsWritten)
{
    struct Case
    {
        long long contentLength;
        bool created;
        int32_t error;
    } cases[] = {
        {kOverTheCap, false, ERROR_FILE_TOO_LARGE},
        {4294967295LL, false, ERROR_FILE_TOO_LARGE},
        // Taken, then short of its length: the usual failure with error 0.
        {kMaxUpdateBytes, true, 0},
    };
    for (const Case& c : cases) {
        // The connection closes after the 100 bytes sent.
        Serve({{200, kNow, Program(100), c.contentLength, 100}});
        const std::wstring target = m_root / L"copy.exe";
        DeleteFileW(target.c_str());
        int32_t error = -1;
        EXPECT_FALSE(DownloadUpdateFile(target.c_str(), &error)) << c.contentLength;
        EXPECT_EQ(error, c.error) << c.contentLength;
        EXPECT_EQ(FileExists(target), c.created) << c.contentLength;
    }
}

// A test build without a server of its own has no update host at all: its
// self-update fails at once and nothing leaves the machine.
TEST_F(SelfUpdateTest, TestBuildWithoutAHostFailsAtStepTwo)
{
    Install(L"tollgrove.exe", Program(100), Utc(10, 0, 0));
    SetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", nullptr);
    int32_t step = 0, error = 0;
    EXPECT_EQ(SelfUpdate(L"tollgrove.exe", &step, &error), UPDATE_FAILED);
    EXPECT_EQ(step, UPDATE_STEP_REMOTE_STAMP);
    EXPECT_NE(error, 0); // the URL "http:///..." is refused before any connection
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(SelfUpdateTest, MissingLocalProgramFailsAtStepOne)
{
    Serve({{200, kNow, Program(100)}});
    int32_t step = 0, error = 0;
    EXPECT_EQ(SelfUpdate(L"tollgrove.exe", &step, &error), UPDATE_FAILED);
    EXPECT_EQ(step, UPDATE_STEP_LOCAL_STAMP);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(m_server.Requests().empty());

    step = 5; // no name: the step slot is not touched
    EXPECT_EQ(SelfUpdate(L"", &step, nullptr), UPDATE_FAILED);
    EXPECT_EQ(step, 5);
}

// A copy Windows named outside the ANSI code page: the replacer reads its
// command line and names its files in their wide forms, so that copy is
// replaced and started by its name like any other.
TEST_F(SelfUpdateTest, NameOutsideTheAnsiCodePageIsReplacedAndStartedUnderThatName)
{
    const std::wstring name = L"tollgrove - B\u1ea3n sao.exe";
    Install(name, "MZ old", Utc(9, 0, 0));
    Serve({{200, kNow, m_newProgram}});

    EXPECT_EQ(RunSelfUpdate(name), 1);
    EXPECT_EQ(WaitForReplacer(ReplacerChildren()), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / name) == m_newProgram);
    EXPECT_EQ(WaitForStartLog(), "tollgrove - B\xe1\xba\xa3n sao.exe: \"tollgrove - B\xe1\xba\xa3n sao.exe\"\r\n");
}

// A copy of another kind than the running program (here a console test
// program, the copy the marker program with one header field changed) is
// not put in place: step 4, logged, the program left as it was.
struct ImageFieldCase
{
    const char* name;
    size_t offset;                   // from the "PE\0\0" signature
    uint16_t (*value)(uint16_t was); // the new value from the copy's own
};

void PrintTo(const ImageFieldCase& c, std::ostream* os)
{
    *os << c.name;
}

class SelfUpdateImageTest : public SelfUpdateTest, public ::testing::WithParamInterface<ImageFieldCase>
{
};

TEST_P(SelfUpdateImageTest, CopyOfAnotherKindIsNotPutInPlace)
{
    const ImageFieldCase& c = GetParam();
    std::string copy = m_newProgram;
    ASSERT_GT(copy.size(), 0x40u);
    const uint32_t nt = static_cast<unsigned char>(copy[0x3C]) | static_cast<unsigned char>(copy[0x3D]) << 8;
    ASSERT_LT(nt + c.offset + 2, copy.size());
    const uint16_t was = static_cast<uint16_t>(static_cast<unsigned char>(copy[nt + c.offset]) |
                                               static_cast<unsigned char>(copy[nt + c.offset + 1]) << 8);
    const uint16_t now = c.value(was);
    copy[nt + c.offset] = static_cast<char>(now & 0xFF);
    copy[nt + c.offset + 1] = static_cast<char>(now >> 8);
    const std::string local = Program(100);
    Install(L"tollgrove.exe", local, Utc(9, 0, 0));
    Serve({{200, kNow, copy}});

    EXPECT_EQ(RunSelfUpdate(L"tollgrove.exe"), 0);
    EXPECT_EQ(
        LogLines(),
        (std::vector<std::string>{
            "Tollgrove selfupdate: the new copy is not a program image for this machine and subsystem, not replaced",
            "Tollgrove selfupdate failed. Step: 4, system error: " + std::to_string(ERROR_BAD_EXE_FORMAT)}));
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove"));
    EXPECT_EQ(ReadWholeFile(m_root / L"tollgrove.exe"), local);
    EXPECT_TRUE(ReplacerChildren().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SelfUpdateImageTest,
    ::testing::Values(
        // The other build's machine: AMD64 for i386 and i386 for AMD64.
        ImageFieldCase{"OtherMachine", 4, [](uint16_t m) -> uint16_t { return m == 0x14C ? 0x8664 : 0x14C; }},
        ImageFieldCase{"OtherImageFormat", 24, [](uint16_t m) -> uint16_t { return m == 0x10B ? 0x20B : 0x10B; }},
        // The test program and the marker are console programs; the GUI
        // subsystem is the other kind here.
        ImageFieldCase{"OtherSubsystem", 24 + 68, [](uint16_t s) -> uint16_t { return s == 2 ? 3 : 2; }},
        ImageFieldCase{"NotAnImageBeyondItsMZ", 0, [](uint16_t) -> uint16_t { return 'P' | 'X' << 8; }}),
    [](const ::testing::TestParamInfo<ImageFieldCase>& info) { return std::string(info.param.name); });

// Only test builds can be pointed at another update server: the shipped
// program does not even carry the variable's name.
TEST(UpdateHostOverride, IsInTheTestBuildOnly)
{
    const std::string name = "TOLLGROVE_TEST_UPDATE_HOST";
    std::string wide;
    for (char c : name) {
        wide += c;
        wide += '\0';
    }
    const std::string shipped = ReadWholeFile(HostPath(TG_SHIPPED_EXE));
    const std::string test = ReadWholeFile(HostPath(TG_TEST_EXE));
    ASSERT_FALSE(shipped.empty());
    ASSERT_FALSE(test.empty());
    EXPECT_EQ(shipped.find(wide), std::string::npos);
    EXPECT_NE(test.find(wide), std::string::npos);
}

TEST(FormatFileTimeStamp, IsTheFileTimeHalvesOrEmpty)
{
    SYSTEMTIME t = Utc(10, 1, 0);
    const uint64_t f = FileTimeOf(t);
    EXPECT_EQ(FormatFileTimeStamp(t),
              std::to_wstring(static_cast<uint32_t>(f >> 32)) + L":" + std::to_wstring(static_cast<uint32_t>(f)));
    SYSTEMTIME invalid = {};
    EXPECT_EQ(FormatFileTimeStamp(invalid), L"");
}

} // namespace
