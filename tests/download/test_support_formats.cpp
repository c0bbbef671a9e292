#include <gtest/gtest.h>

#include "support_formats.h"

TEST(SupportFormats, LogFileNameAndLine)
{
    const LocalTimeFields t = {2026, 3, 4, 5, 6, 7};
    EXPECT_EQ(UpdateLogFileName(t), L"logs\\update202603.txt");
    EXPECT_EQ(UpdateLogLine(t, "Checking for update"), "20260304050607 Checking for update\n");
}

TEST(SupportFormats, FreeSpaceRootFromTargetOrCurrentDirectory)
{
    EXPECT_EQ(FreeSpaceRootFor(L"T:\\a\\b.torrent", L"C:\\work"), L"T:\\");
    EXPECT_EQ(FreeSpaceRootFor(L"b.torrent", L"D:\\games\\x"), L"D:\\");
    EXPECT_EQ(FreeSpaceRootFor(L"T:b.torrent", L"C:\\"), L"C:\\");
    EXPECT_EQ(FreeSpaceRootFor(L"\\\\srv\\share\\f", L"E:\\"), L"E:\\");
    EXPECT_EQ(FreeSpaceRootFor(L"f", L""), L"");
}

TEST(SupportFormats, ParentFolderAndFileName)
{
    EXPECT_EQ(ParentFolderOf(L"C:\\Games\\Demo\\demo.torrent"), L"C:\\Games\\Demo");
    EXPECT_EQ(ParentFolderOf(L"demo.torrent"), L"");
    EXPECT_EQ(FileNameOf(L"C:\\x\\tollgrove.exe"), L"tollgrove.exe");
    EXPECT_EQ(FileNameOf(L"tollgrove.exe"), L"tollgrove.exe");
    EXPECT_EQ(FileNameOf(L"C:\\x\\"), L"");
}
