// The configuration "tollgrove.dat" (section "Setting") and the cache
// "tollgrove.cache" (section "Setup") over the profile API. Any thread;
// blocks on file reads; sends no messages.
#pragma once
#include <cstdint>
#include <string>

#include "config_rules.h"

// The value with "" as default, cut to its first 2,047 characters (the
// read buffer holds 2,048 with the terminator).
std::wstring ReadIniString(const std::wstring& section, const std::wstring& key,
                           const std::wstring& path);

// GetPrivateProfileIntW with 0 as default.
int32_t ReadIniInt(const std::wstring& section, const std::wstring& key, const std::wstring& path);

// The keys read after a successful .torrent fetch, in the file's reading
// order, with every default and the joint threshold fallback applied.
SettingValues ReadSettingValues(const std::wstring& configPath);

// "GameName" folded for the install-folder dialog's default game folder.
std::wstring ReadFoldedGameName(const std::wstring& configPath);
std::wstring ReadLinkTorrent(const std::wstring& configPath);
std::wstring ReadInstallPath(const std::wstring& cachePath);

// Exit's write of "InstallPath" and a stopped attempt's totals ("%d");
// failures are ignored.
void WriteInstallPath(const std::wstring& cachePath, const std::wstring& installPath);
void WriteStoppedTotals(const std::wstring& configPath, int32_t totalSize, int32_t totalTime);
