#include <gtest/gtest.h>

#include "ini_file.h"
#include "win_test_files.h"

TEST(IniFile, SettingValuesWithDefaultsFallbacksAndStrip)
{
    ScratchFolder dir;
    const std::wstring dat = dir / L"tollgrove.dat";
    WriteUtf16Ini(dat, L"[Setting]\r\nGameName=Tiếng Việt Online\r\nLinkTorrent=http://h/g.torrent\r\n"
                       L"LinkHttp=http://files.example/game/\r\nMinSpeed=5000\r\nMaxHttpConn=1\r\n"
                       L"LinkReport=HTTP://rep.example/r.php\r\nGameCode=TV 1&2\r\nRunFile=game.exe\r\n"
                       L"TotalTimeDL=abc\r\nTotalSizeDL=123456\r\n");
    const SettingValues v = ReadSettingValues(dat);
    EXPECT_EQ(v.linkHttp, L"http://files.example/game/");
    EXPECT_EQ(v.minSpeed, 2048); // 5000 is not below the defaulted 4096
    EXPECT_EQ(v.maxSpeed, 4096);
    EXPECT_EQ(v.maxHttpConn, 1);
    EXPECT_EQ(v.linkReport, L"rep.example/r.php");
    EXPECT_EQ(v.gameCode, L"TV 1&2");
    EXPECT_EQ(v.gameName, L"Tiếng Việt Online");
    EXPECT_EQ(v.runFile, L"game.exe");
    EXPECT_EQ(v.shortcutFile, L"");
    EXPECT_EQ(v.totalTimeDL, 0);
    EXPECT_EQ(v.totalSizeDL, 123456);
    EXPECT_EQ(ReadFoldedGameName(dat), L"Tieng Viet Online");
    EXPECT_EQ(ReadLinkTorrent(dat), L"http://h/g.torrent");
}

TEST(IniFile, MissingFileReadsAsDefaults)
{
    ScratchFolder dir;
    const SettingValues v = ReadSettingValues(dir / L"none.dat");
    EXPECT_EQ(v.minSpeed, 2048);
    EXPECT_EQ(v.maxSpeed, 4096);
    EXPECT_EQ(v.maxHttpConn, 4);
    EXPECT_EQ(v.linkReport, L"");
    EXPECT_EQ(ReadInstallPath(dir / L"none.cache"), L"");
}

TEST(IniFile, LongValueIsCutTo2047Characters)
{
    ScratchFolder dir;
    const std::wstring dat = dir / L"tollgrove.dat";
    std::wstring value;
    for (int i = 0; i < 3000; ++i)
        value += static_cast<wchar_t>(L'a' + i % 26);
    WriteUtf16Ini(dat, L"[Setting]\r\nLinkHttp=" + value + L"\r\n");
    EXPECT_EQ(ReadIniString(L"Setting", L"LinkHttp", dat), value.substr(0, 2047));
}

TEST(IniFile, WritesInstallPathAndTotals)
{
    ScratchFolder dir;
    const std::wstring cache = dir / L"tollgrove.cache";
    WriteInstallPath(cache, L"C:\\Trò chơi\\Demo");
    EXPECT_EQ(ReadInstallPath(cache), L"C:\\Trò chơi\\Demo");
    const std::wstring dat = dir / L"tollgrove.dat";
    WriteStoppedTotals(dat, -5, 77);
    EXPECT_EQ(ReadIniString(L"Setting", L"TotalSizeDL", dat), L"-5");
    EXPECT_EQ(ReadIniInt(L"Setting", L"TotalTimeDL", dat), 77);
}
