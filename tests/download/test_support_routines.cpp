#include <gtest/gtest.h>

#include <filesystem>

#include "file_stamps.h"
#include "support_formats.h"
#include "support_routines.h"
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
    CurrentDirectory cd(dir.Path());
    CreateDirectoryW(L"logs", nullptr);
    SYSTEMTIME before = {};
    GetLocalTime(&before);
    WriteUpdateLog(L"first line");
    WriteUpdateLog(L"second line: Việt");
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
    CurrentDirectory cd(dir.Path());
    WriteUpdateLog(L"lost");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

// Once start-up has named the log's folder, a change of the current
// directory (an attempt changes into the install folder) moves no line.
TEST(SupportRoutines, LogStaysInTheFolderStartUpNamed)
{
    ScratchFolder program, install;
    CreateDirectoryW((program / L"logs").c_str(), nullptr);
    SetUpdateLogFolder(program.Path());
    {
        CurrentDirectory cd(install.Path());
        WriteUpdateLog(L"Play: could not start x.exe");
    }
    SetUpdateLogFolder(std::wstring());
    EXPECT_TRUE(std::filesystem::is_empty(install.Path()));
    std::string logged;
    for (const auto& e : std::filesystem::directory_iterator(program / L"logs"))
        logged += ReadAll(e.path().wstring());
    EXPECT_NE(logged.find(" Play: could not start x.exe\r\n"), std::string::npos) << logged;
}

// The executable's path from a buffer too small for it, as a path of
// MAX_PATH characters or more meets the first buffer (Wine starts no
// program from such a path): the buffer grows, nothing is cut or emptied.
TEST(ProgramFolder, PathIsTakenWholeWhateverTheFirstBuffer)
{
    wchar_t whole[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, whole, MAX_PATH);
    ASSERT_GT(n, 20u);
    ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
    for (size_t first : {size_t(1), size_t(8), size_t(n), size_t(n) + 1, size_t(MAX_PATH)})
        EXPECT_EQ(ModuleFileName(first), whole) << first;
    std::wstring folder(whole);
    folder.resize(folder.rfind(L'\\'));
    EXPECT_EQ(ProgramFolder(), folder);
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
