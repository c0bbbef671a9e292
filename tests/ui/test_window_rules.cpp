// The finishing paths, the Play rule and the install-folder texts.
#include <gtest/gtest.h>

#include "ui/finishing_paths.h"
#include "ui/install_path_rules.h"

namespace {

using namespace tollgrove;

TEST(FinishingPaths, RelativeNamesAndLinkNames)
{
    EXPECT_EQ(InstallRelativePath(L"D:\\Games\\Demo", L"bin\\demo.exe"), L"D:\\Games\\Demo\\bin\\demo.exe");
    // Never tested for being absolute already.
    EXPECT_EQ(InstallRelativePath(L"D:\\Games\\Demo", L"C:\\x.exe"), L"D:\\Games\\Demo\\C:\\x.exe");
    EXPECT_EQ(DesktopLinkPath(L"C:\\Desk", L"Demo Beta"), L"C:\\Desk\\Demo Beta.lnk");
    EXPECT_EQ(DesktopLinkPath(L"C:\\Desk", L""), L"C:\\Desk\\.lnk");
}

TEST(PlayRule, ExeMustFollowTheFirstCharacter)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"D:\\Games\\Demo\\bin\\demo.exe", true},
        {L"D:\\Games\\Demo\\game.exe -window", true},
        {L"D:\\Games\\Demo\\DEMO.EXE", false}, // case-sensitive search
        {L"D:\\Games\\Demo\\readme.txt", false},
        {L".exe", false},
        {L"a.exe", true},
        {L"", false},
    };
    for (const auto& [runFile, starts] : cases)
        EXPECT_EQ(NamesProgramFile(runFile), starts) << std::wstring(runFile).size();
}

TEST(InstallPathRules, ProposalAndBrowsedTail)
{
    EXPECT_EQ(ProposedInstallPath(L"MyGame"), L"C:\\MyGame");
    EXPECT_EQ(ProposedInstallPath(L""), L"C:\\");

    struct Case
    {
        const wchar_t* browsed;
        const wchar_t* game;
        const wchar_t* path;
    };
    const Case cases[] = {
        {L"D:\\Games", L"MyGame", L"D:\\Games\\MyGame"},
        {L"D:\\Games\\mygame", L"MyGame", L"D:\\Games\\mygame"},
        {L"D:\\OtherMyGame", L"MyGame", L"D:\\OtherMyGame"}, // no separator asked for
        {L"D:\\", L"MyGame", L"D:\\\\MyGame"},               // appended even after a backslash
        {L"D:\\Games", L"", L"D:\\Games"},                   // the empty tail always matches
        {L"Game", L"MyGame", L"Game\\MyGame"},              // shorter than the name
        {L"D:\\x\\MYGAMÉ", L"MyGamé", L"D:\\x\\MYGAMÉ\\MyGamé"}, // only ASCII letters fold
    };
    for (const Case& c : cases)
        EXPECT_EQ(BrowsedInstallPath(c.browsed, c.game), c.path);
}

} // namespace
