#include <gtest/gtest.h>

#include "file_stamps.h"

namespace {
// 2024-05-01 10:00:00 UTC as a file time, plus seconds.
uint64_t At(int seconds)
{
    return (1714557600ull + 11644473600ull + static_cast<uint64_t>(seconds)) * 10000000ull;
}
std::wstring Stamp(int seconds)
{
    return FormatFileStamp(At(seconds));
}
} // namespace

TEST(FileStamps, SameMinuteIsEqualNextMinuteIsNot)
{
    EXPECT_TRUE(CompareFileStamps(Stamp(0), Stamp(59)));
    EXPECT_TRUE(CompareFileStamps(Stamp(59), Stamp(0)));
    EXPECT_FALSE(CompareFileStamps(Stamp(59), Stamp(60)));
    EXPECT_FALSE(CompareFileStamps(Stamp(0), Stamp(3600)));
    // The last 100-ns unit of a minute and the first of the next.
    EXPECT_FALSE(CompareFileStamps(FormatFileStamp(At(60) - 1), FormatFileStamp(At(60))));
}

TEST(FileStamps, UpdateTimeSurvivesTheTwoSecondStepOfFat)
{
    const struct {
        const char* name;
        std::wstring local, remote;
        bool same;
    } cases[] = {
        {"same minute", Stamp(10), Stamp(50), true},
        {"hh:mm:59 kept as the next minute", Stamp(60), Stamp(59), true},
        {"rounded down across the minute", Stamp(59), Stamp(60), true},
        {"two seconds", FormatFileStamp(At(58)), FormatFileStamp(At(60)), true},
        {"more than two seconds across the minute", FormatFileStamp(At(57)), FormatFileStamp(At(60) + 1), false},
        {"another minute", Stamp(0), Stamp(120), false},
        {"unparsable", L"later", Stamp(0), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameUpdateTime(c.local, c.remote), c.same) << c.name;
}

TEST(FileStamps, ParsesAsTheRuntimeScanDoes)
{
    struct Case
    {
        const wchar_t* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {L"1:2", true, (1ull << 32) | 2},
        {L"  30000000:  4000000000xyz", true, (30000000ull << 32) | 4000000000ull},
        {L"+7:+8", true, (7ull << 32) | 8},
        {L"4294967295:4294967295", true, ~0ull},
        {L"-1:0", true, 0xFFFFFFFFull << 32},
        {L"12345", false, 0},      // no colon
        {L"1 :2", false, 0},       // the colon must follow the number
        {L"1:", false, 0},
        {L":2", false, 0},
        {L"", false, 0},
        {L"a:b", false, 0},
        {L"4294967296:0", false, 0}, // beyond 32 bits
    };
    for (const Case& c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(ParseFileStamp(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(FileStamps, UnparsableOrUncalendaredStampsAreNeverEqual)
{
    EXPECT_FALSE(CompareFileStamps(L"12345", L"12345"));
    EXPECT_FALSE(CompareFileStamps(Stamp(0), L"garbage"));
    EXPECT_FALSE(CompareFileStamps(L"2147483648:0", L"2147483648:0"));
    EXPECT_TRUE(CompareFileStamps(L"2147483647:0", L"2147483647:1"));
}
