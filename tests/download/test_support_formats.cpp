#include <gtest/gtest.h>

#include <algorithm>

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

TEST(SupportFormats, ContentLengthIsStrictDecimal)
{
    struct Case
    {
        const wchar_t* text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {L"0", true, 0},
        {L"150000", true, 150000},
        {L" 42 ", true, 42},
        {L"4294967295", true, 4294967295u},
        {L"4294967296", false, 0}, // beyond 32 bits
        {L"", false, 0},
        {L"abc", false, 0},
        {L"12abc", false, 0},
        {L"-1", false, 0},
        {L"+1", false, 0},
        {L"1 2", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t v = 7;
        EXPECT_EQ(ParseContentLength(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(SupportFormats, QueriedTextEndsAtItsTerminatorWhateverTheReturnedLength)
{
    // What HttpQueryInfoW leaves in the zero-filled buffer: the returned
    // length (12 bytes under Wine, 6 if counted in characters) plays no part.
    wchar_t buffer[64] = {};
    const std::wstring value = L"150000";
    std::copy(value.begin(), value.end(), buffer);
    EXPECT_EQ(TextUpToTerminator(buffer, 63), L"150000");
    uint32_t length = 0;
    EXPECT_TRUE(ParseContentLength(TextUpToTerminator(buffer, 63), length));
    EXPECT_EQ(length, 150000u);

    EXPECT_EQ(TextUpToTerminator(buffer, 3), L"150"); // never beyond the capacity
    wchar_t empty[4] = {};
    EXPECT_EQ(TextUpToTerminator(empty, 4), L"");
}
