// The replacer program under Wine, run the way the self-update runs it: from
// the update folder as "engine.dat", the current directory one level above.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "../support/child_process.h"
#include "../support/host_path.h"
#include "../support/process_job.h"
#include "../support/scratch_folder.h"

namespace {

const DWORD kRunLimitMs = 20000;

class ReplacerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW((m_root / L"updatetollgrove").c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(HostPath(TG_REPLACER_QUICK).c_str(), Replacer().c_str(), FALSE));
        m_newProgram = ReadWholeFile(HostPath(TG_STARTED_MARKER));
        ASSERT_FALSE(m_newProgram.empty());
    }

    // Runs the replacer with this argument text; returns its exit code once
    // it and everything it started have ended.
    DWORD Run(const std::wstring& arguments)
    {
        EXPECT_TRUE(m_job.Start(L"updatetollgrove\\engine.dat" + arguments, m_root.Path(), Replacer()));
        DWORD code = m_job.WaitFirst(kRunLimitMs);
        EXPECT_TRUE(m_job.WaitAll(kRunLimitMs));
        return code;
    }

    std::wstring Replacer() { return m_root / L"updatetollgrove\\engine.dat"; }

    // The new program's starts, one line each (Run has waited for them to end).
    std::string StartLog() { return ReadWholeFile(m_root / L"started.txt"); }

    ScratchFolder m_root{BuildScratchBase(), CurrentTestFolderName("replacer-")};
    ProcessJob m_job;
    std::string m_newProgram;
};

TEST_F(ReplacerTest, NoArgumentEndsWithOneAtOnce)
{
    EXPECT_EQ(Run(L""), 1u);
    EXPECT_EQ(StartLog(), "");
}

// The destination before the move: absent, an ordinary file, a read-only one.
struct DestinationCase
{
    const char* name;
    bool exists;
    DWORD attributes;
};

void PrintTo(const DestinationCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReplacerDestinationTest : public ReplacerTest, public ::testing::WithParamInterface<DestinationCase>
{
};

TEST_P(ReplacerDestinationTest, MovesTheFileOverItAndStartsItOnce)
{
    const DestinationCase& c = GetParam();
    const std::wstring destination = m_root / L"game.exe";
    if (c.exists) {
        ASSERT_TRUE(WriteWholeFile(destination, "old program"));
        ASSERT_TRUE(SetFileAttributesW(destination.c_str(), c.attributes));
    }
    ASSERT_TRUE(WriteWholeFile(m_root / L"updatetollgrove\\game.exe", m_newProgram));

    EXPECT_EQ(Run(L" updatetollgrove\\game.exe"), 0u);
    EXPECT_TRUE(ReadWholeFile(destination) == m_newProgram);
    EXPECT_FALSE(FileExists(m_root / L"updatetollgrove\\game.exe"));
    // The moved file keeps its own attributes, not the old one's read-only bit.
    EXPECT_FALSE(GetFileAttributesW(destination.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(StartLog(), "game.exe: game.exe\r\n"); // started once, by its bare name, no arguments
}

INSTANTIATE_TEST_SUITE_P(Destinations, ReplacerDestinationTest,
                         ::testing::Values(DestinationCase{"Absent", false, 0},
                                           DestinationCase{"Ordinary", true, FILE_ATTRIBUTE_NORMAL},
                                           DestinationCase{"ReadOnly", true, FILE_ATTRIBUTE_READONLY}),
                         [](const ::testing::TestParamInfo<DestinationCase>& info) {
                             return std::string(info.param.name);
                         });

// The destinations below are runnable programs, so a wrong start would show.
TEST_F(ReplacerTest, MissingSourceFailsAfterItsTriesAndStartsNothing)
{
    ASSERT_TRUE(WriteWholeFile(m_root / L"game.exe", m_newProgram));
    EXPECT_EQ(Run(L" updatetollgrove\\game.exe"), 1u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"game.exe") == m_newProgram);
    EXPECT_EQ(StartLog(), "");
}

TEST_F(ReplacerTest, FirstOfTwoFailsSecondIsStillMovedNothingStarts)
{
    ASSERT_TRUE(WriteWholeFile(m_root / L"game.exe", m_newProgram));
    ASSERT_TRUE(WriteWholeFile(m_root / L"updatetollgrove\\data.bin", "new data"));
    EXPECT_EQ(Run(L" updatetollgrove\\game.exe updatetollgrove\\data.bin"), 1u);
    EXPECT_EQ(ReadWholeFile(m_root / L"data.bin"), "new data");
    EXPECT_EQ(StartLog(), "");
}

// The self-update quotes nothing: a program named with a blank arrives as two
// arguments, neither names a file, and nothing is replaced or started.
TEST_F(ReplacerTest, NameWithABlankArrivesAsTwoArgumentsAndFails)
{
    ASSERT_TRUE(WriteWholeFile(m_root / L"my game.exe", "old program"));
    ASSERT_TRUE(WriteWholeFile(m_root / L"updatetollgrove\\my game.exe", m_newProgram));
    EXPECT_EQ(Run(L" updatetollgrove\\my game.exe"), 1u);
    EXPECT_EQ(ReadWholeFile(m_root / L"my game.exe"), "old program");
    EXPECT_TRUE(FileExists(m_root / L"updatetollgrove\\my game.exe"));
    EXPECT_EQ(StartLog(), "");
}

// Quoted, a name with a blank is one argument; the new program is started
// by its quoted name, so "my.exe" beside it is not taken for "my game.exe".
TEST_F(ReplacerTest, QuotedNameWithABlankIsMovedAndStartedByThatName)
{
    ASSERT_TRUE(WriteWholeFile(m_root / L"my game.exe", "old program"));
    ASSERT_TRUE(WriteWholeFile(m_root / L"my.exe", m_newProgram));
    ASSERT_TRUE(WriteWholeFile(m_root / L"updatetollgrove\\my game.exe", m_newProgram));
    EXPECT_EQ(Run(L" \"updatetollgrove\\my game.exe\""), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / L"my game.exe") == m_newProgram);
    EXPECT_EQ(StartLog(), "my game.exe: \"my game.exe\"\r\n");
}

// A name outside the ANSI code page (a copy Windows named in Vietnamese):
// the command line is read and the files named in their wide forms, so the
// file is found, moved and started by that name.
TEST_F(ReplacerTest, NameOutsideTheAnsiCodePageIsMovedAndStartedByThatName)
{
    const std::wstring name = L"tollgrove - B\u1ea3n sao.exe";
    ASSERT_TRUE(WriteWholeFile(m_root / name, "old program"));
    ASSERT_TRUE(WriteWholeFile(m_root / (L"updatetollgrove\\" + name), m_newProgram));
    EXPECT_EQ(Run(L" \"updatetollgrove\\" + name + L"\""), 0u);
    EXPECT_TRUE(ReadWholeFile(m_root / name) == m_newProgram);
    EXPECT_FALSE(FileExists(m_root / (L"updatetollgrove\\" + name)));
    EXPECT_EQ(StartLog(), "tollgrove - B\xe1\xba\xa3n sao.exe: \"tollgrove - B\xe1\xba\xa3n sao.exe\"\r\n");
}

// The old program holds its file for a while after starting the replacer:
// the tries cover that time and the move succeeds once it lets go.
TEST_F(ReplacerTest, DestinationHeldAtFirstIsReplacedOnceReleased)
{
    const std::wstring destination = m_root / L"game.exe";
    ASSERT_TRUE(WriteWholeFile(destination, "old program"));
    ASSERT_TRUE(WriteWholeFile(m_root / L"updatetollgrove\\game.exe", m_newProgram));
    HANDLE held = CreateFileW(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    ASSERT_TRUE(m_job.Start(L"updatetollgrove\\engine.dat updatetollgrove\\game.exe", m_root.Path(), Replacer()));
    Sleep(200); // several of the quick build's tries fail meanwhile
    EXPECT_TRUE(FileExists(m_root / L"updatetollgrove\\game.exe"));
    CloseHandle(held);

    EXPECT_EQ(m_job.WaitFirst(kRunLimitMs), 0u);
    EXPECT_TRUE(m_job.WaitAll(kRunLimitMs));
    EXPECT_TRUE(ReadWholeFile(destination) == m_newProgram);
    EXPECT_EQ(StartLog(), "game.exe: game.exe\r\n");
}

} // namespace
