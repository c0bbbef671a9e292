#include <gtest/gtest.h>

#include "config_rules.h"

TEST(ConfigRules, ThresholdsAfterSingleDefaultsAndJointFallback)
{
    struct Case
    {
        int32_t minRead, maxRead, minWant, maxWant;
    } cases[] = {
        {5000, 0, 2048, 4096},    // upper defaults to 4096, lower not below it
        {3000, 0, 3000, 4096},    // both valid after the default
        {3000, 3000, 2048, 4096}, // equal is a contradiction
        {0, 0, 2048, 4096},
        {-5, 1000, 2048, 4096},   // lower defaults to 2048, above the upper
        {100, 200, 100, 200},
        {4096, 5000, 4096, 5000},
    };
    for (const Case& c : cases) {
        SettingValues v;
        v.minSpeed = c.minRead;
        v.maxSpeed = c.maxRead;
        ApplySettingRules(v);
        EXPECT_EQ(v.minSpeed, c.minWant) << c.minRead << "/" << c.maxRead;
        EXPECT_EQ(v.maxSpeed, c.maxWant) << c.minRead << "/" << c.maxRead;
    }
}

TEST(ConfigRules, MaxHttpConnNotAboveZeroDefaultsToFour)
{
    const std::pair<int32_t, int32_t> cases[] = {{0, 4}, {-1, 4}, {1, 1}, {12, 12}};
    for (const auto& c : cases) {
        SettingValues v;
        v.maxHttpConn = c.first;
        ApplySettingRules(v);
        EXPECT_EQ(v.maxHttpConn, c.second) << c.first;
    }
}

TEST(ConfigRules, LinkReportLosesOnlyALeadingHttpSchemeInAnyCase)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"http://report.example/r.php", L"report.example/r.php"},
        {L"HtTp://report.example/r.php", L"report.example/r.php"},
        {L"HTTP://x", L"x"},
        {L"report.example/r.php", L"report.example/r.php"},
        {L"https://report.example/r", L"https://report.example/r"},
        {L"ftp://h/r", L"ftp://h/r"},
        {L"a/http://b", L"a/http://b"},
        {L"http:/", L"http:/"},
        {L"http://", L""},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StripHttpScheme(c.first), c.second) << c.first;
}
