#include "ini_file.h"

#include <windows.h>

#include "vietnamese_fold.h"
#include "win_handles.h"

namespace {
const wchar_t kSetting[] = L"Setting";
const wchar_t kSetup[] = L"Setup";
constexpr DWORD kIniBufferChars = 2048;
} // namespace

std::wstring ReadIniString(const std::wstring& section, const std::wstring& key, const std::wstring& path)
{
    // The profile function itself cuts to size - 1 and terminates.
    wchar_t buffer[kIniBufferChars] = {};
    GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer, kIniBufferChars, path.c_str());
    buffer[kIniBufferChars - 1] = L'\0';
    return buffer;
}

int32_t ReadIniInt(const std::wstring& section, const std::wstring& key, const std::wstring& path)
{
    return static_cast<int32_t>(GetPrivateProfileIntW(section.c_str(), key.c_str(), 0, path.c_str()));
}

SettingValues ReadSettingValues(const std::wstring& configPath)
{
    SettingValues v;
    v.linkHttp = ReadIniString(kSetting, L"LinkHttp", configPath);
    v.minSpeed = ReadIniInt(kSetting, L"MinSpeed", configPath);
    v.maxSpeed = ReadIniInt(kSetting, L"MaxSpeed", configPath);
    v.maxHttpConn = ReadIniInt(kSetting, L"MaxHttpConn", configPath);
    v.linkReport = ReadIniString(kSetting, L"LinkReport", configPath);
    v.shortcutFile = ReadIniString(kSetting, L"ShortcutFile", configPath);
    v.shortcutName = ReadIniString(kSetting, L"ShortcutName", configPath);
    v.gameCode = ReadIniString(kSetting, L"GameCode", configPath);
    v.gameName = ReadIniString(kSetting, L"GameName", configPath);
    v.runFile = ReadIniString(kSetting, L"RunFile", configPath);
    v.shortcutDelete = ReadIniString(kSetting, L"ShortcutDelete", configPath);
    v.totalTimeDL = ReadIniInt(kSetting, L"TotalTimeDL", configPath);
    v.totalSizeDL = ReadIniInt(kSetting, L"TotalSizeDL", configPath);
    ApplySettingRules(v);
    return v;
}

std::wstring ReadFoldedGameName(const std::wstring& configPath)
{
    return StripVietnameseMarks(ReadIniString(kSetting, L"GameName", configPath));
}

std::wstring ReadLinkTorrent(const std::wstring& configPath)
{
    return ReadIniString(kSetting, L"LinkTorrent", configPath);
}

std::wstring ReadInstallPath(const std::wstring& cachePath)
{
    return ReadIniString(kSetup, L"InstallPath", cachePath);
}

void WriteInstallPath(const std::wstring& cachePath, const std::wstring& installPath)
{
    // A new file written by the profile API is ANSI, which would lose the
    // Vietnamese letters of a folder name: start it as UTF-16LE instead.
    if (GetFileAttributesW(cachePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        FileHandle file(
            CreateFileW(cachePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.IsValid()) {
            static const unsigned char kBom[2] = {0xFF, 0xFE};
            DWORD written = 0;
            WriteFile(file.Get(), kBom, sizeof kBom, &written, nullptr);
        } // closed here, before the profile API opens the file
    }
    WritePrivateProfileStringW(kSetup, L"InstallPath", installPath.c_str(), cachePath.c_str());
}

void WriteStoppedTotals(const std::wstring& configPath, int32_t totalSize, int32_t totalTime)
{
    WritePrivateProfileStringW(kSetting, L"TotalSizeDL", std::to_wstring(totalSize).c_str(), configPath.c_str());
    WritePrivateProfileStringW(kSetting, L"TotalTimeDL", std::to_wstring(totalTime).c_str(), configPath.c_str());
}
