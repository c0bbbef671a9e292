#include <gtest/gtest.h>

#include <filesystem>

#include "file_stamps.h"
#include "support_formats.h"
#include "support_routines.h"
#include "child_process.h"
#include "host_path.h"
#include "win_test_files.h"

namespace {

// Runs the test body with the scratch folder as the current directory.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const std::wstring& dir)
    {
        GetCurrentDirectoryW(MAX_PATH, m_old);
        SetCurrentDirectoryW(dir.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(m_old); }

private:
    wchar_t m_old[MAX_PATH] = {};
};

uint64_t LastWriteTime(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

} // namespace

TEST(SupportRoutines, LogLinesGoToThisMonthsFileInOrder)
{
    ScratchFolder dir;
    CreateDirectoryW((dir / L"logs").c_str(), nullptr);
    SYSTEMTIME before = {};
    GetLocalTime(&before);
    WriteLogLineIn(dir.Path(), L"first line");
    WriteLogLineIn(dir.Path(), L"second line: Việt");
    SYSTEMTIME after = {};
    GetLocalTime(&after);
    if (before.wMonth != after.wMonth)
        GTEST_SKIP() << "the month changed during the test";
    const LocalTimeFields t = {before.wYear, before.wMonth, 1, 0, 0, 0};
    const std::string text = ReadAll(dir / UpdateLogFileName(t));
    const std::string prefix = UpdateLogLine(t, "").substr(0, 6); // year and month
    // Each line: 14 digits of local time, a blank, the text, CR LF.
    ASSERT_EQ(text.size(), 2 * 15 + 10 + 17 + 4u) << text;
    EXPECT_EQ(text.substr(0, 6), prefix);
    EXPECT_EQ(text.substr(14, 13), " first line\r\n");
    EXPECT_EQ(text.substr(27 + 14), " second line: Vi?t\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / L"logs"),
                            std::filesystem::directory_iterator()), 1);
}

TEST(SupportRoutines, NoLogFolderWritesNothing)
{
    ScratchFolder dir;
    WriteLogLineIn(dir.Path(), L"lost");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

// The program run from a folder whose path is short, or far longer than
// MAX_PATH, while its current directory is another folder (an attempt's
// install folder, without logs\): it finds its own folder, and its log
// lines land in that folder's logs\.
TEST(ProgramFolder, FoundWhateverItsLengthAndHoldsTheLog)
{
    const struct {
        const char* name;
        size_t depth; // folders of 50 characters below the scratch folder
    } cases[] = {{"short", 1}, {"longer than MAX_PATH", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        std::wstring folder = dir.Path();
        for (size_t i = 0; i < c.depth; ++i) {
            folder += L"\\" + std::wstring(49, static_cast<wchar_t>(L'a' + i)) + L"x";
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
        }
        ASSERT_EQ(folder.size() >= MAX_PATH, c.depth > 1);
        ASSERT_TRUE(CopyFileW(HostPath(TG_PROGRAM_FOLDER_PROBE).c_str(), (folder + L"\\tollgrove.exe").c_str(), FALSE))
            << GetLastError();
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\logs").c_str(), nullptr));
        const std::wstring install = dir / L"install";
        ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));

        ChildProcess probe;
        ASSERT_TRUE(probe.Start(L"\"" + folder + L"\\tollgrove.exe\"", install)) << GetLastError();
        ASSERT_EQ(probe.Wait(30000), 0u);
        EXPECT_EQ(ReadAll(install + L"\\program_folder.txt"), std::filesystem::path(folder).u8string());
        EXPECT_FALSE(FileExists(install + L"\\logs"));
        std::string logged;
        for (const auto& e : std::filesystem::directory_iterator(folder + L"\\logs"))
            logged += ReadAll(e.path().wstring());
        EXPECT_NE(logged.find(" probe line\r\n"), std::string::npos) << logged;
    }
}

TEST(SupportRoutines, DeleteDirectoryTreeRemovesReadOnlyFilesAndSubfolders)
{
    ScratchFolder dir;
    for (const wchar_t* trailing : {L"", L"\\"}) {
        const std::wstring top = dir / L"updatetollgrove";
        std::filesystem::create_directories(top + L"\\sub\\deeper");
        WriteAll(top + L"\\tollgrove.exe", "x");
        WriteAll(top + L"\\sub\\a.txt", "a");
        WriteAll(top + L"\\sub\\deeper\\b.txt", "b");
        SetFileAttributesW((top + L"\\tollgrove.exe").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW((top + L"\\sub\\deeper\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        DeleteDirectoryTree(top + trailing);
        EXPECT_FALSE(FileExists(top));
    }
    DeleteDirectoryTree(dir / L"does-not-exist"); // nothing to do, nothing breaks
    EXPECT_TRUE(FileExists(dir.Path()));
}

TEST(SupportRoutines, DeleteDirectoryTreeNeverLeavesTheFolder)
{
    // Names that sort before "." and a sibling that must survive.
    ScratchFolder dir;
    const std::wstring top = dir / L"update";
    std::filesystem::create_directories(top + L"\\!sub");
    WriteAll(top + L"\\!first.txt", "1");
    WriteAll(top + L"\\#2.txt", "2");
    WriteAll(top + L"\\!sub\\ x.txt", "3");
    WriteAll(dir / L"sibling.txt", "keep");
    DeleteDirectoryTree(top);
    EXPECT_FALSE(FileExists(top));
    EXPECT_EQ(ReadAll(dir / L"sibling.txt"), "keep");
}

TEST(SupportRoutines, ReadOnlySubfolderStaysAndSoDoesItsParent)
{
    ScratchFolder dir;
    // Whether a read-only folder resists removal is the platform's rule
    // (Wine run as root removes it): probe it first.
    const std::wstring probe = dir / L"probe";
    CreateDirectoryW(probe.c_str(), nullptr);
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    if (RemoveDirectoryW(probe.c_str()))
        GTEST_SKIP() << "this system removes read-only folders";
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::wstring top = dir / L"tree";
    std::filesystem::create_directories(top + L"\\locked");
    WriteAll(top + L"\\file.txt", "f");
    SetFileAttributesW((top + L"\\locked").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteDirectoryTree(top);
    EXPECT_TRUE(FileExists(top + L"\\locked"));
    EXPECT_TRUE(GetFileAttributesW((top + L"\\locked").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(FileExists(top + L"\\file.txt"));
    SetFileAttributesW((top + L"\\locked").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(SupportRoutines, SetFileTimeFromStamp)
{
    ScratchFolder dir;
    const std::wstring file = dir / L"tollgrove.exe";
    WriteAll(file, "exe");
    const uint64_t original = LastWriteTime(file);
    EXPECT_EQ(SetFileTimeFromStamp(L"no stamp", file), 0);
    EXPECT_EQ(LastWriteTime(file), original);
    const uint64_t stamp = 133000000000000000ull; // 2022
    EXPECT_NE(SetFileTimeFromStamp(FormatFileStamp(stamp), file), 0);
    EXPECT_EQ(LastWriteTime(file), stamp);
    EXPECT_EQ(SetFileTimeFromStamp(L"1:2", dir / L"missing.exe"), 0);
}

TEST(SupportRoutines, WriteResourceToFileReplacesAnExistingFile)
{
    ScratchFolder dir;
    const std::wstring target = dir / L"replacer.exe";
    WriteAll(target, std::string(5000, 'o'));
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(777), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    ASSERT_NE(res, nullptr);
    EXPECT_TRUE(WriteResourceToFile(res, target));
    EXPECT_EQ(ReadAll(target), ReadAll(HostPath(TG_PAYLOAD_PATH)));
    EXPECT_FALSE(WriteResourceToFile(res, dir / L"no\\such\\folder.exe"));
}

TEST(SupportRoutines, LaunchProgram)
{
    EXPECT_EQ(LaunchProgram(L"C:\\no\\such\\program.exe"), 0u);
    EXPECT_NE(LaunchProgram(L"cmd.exe /c exit"), 0u);
    EXPECT_EQ(LaunchProgram(L"cmd.exe /c rem " + std::wstring(250, L'x')), 0u); // 260 or more: refused
}
