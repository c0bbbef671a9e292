// Defaults and fallbacks of the configuration keys, applied after the
// profile API has read them. Portable: no windows.h; any thread.
#pragma once
#include <cstdint>
#include <string>

constexpr int32_t kDefaultMinSpeed = 2048;   // KB/s
constexpr int32_t kDefaultMaxSpeed = 4096;   // KB/s
constexpr int32_t kDefaultMaxHttpConn = 4;

// The keys of section "Setting" read after a successful .torrent fetch.
struct SettingValues
{
    std::wstring linkHttp;
    int32_t minSpeed = 0;
    int32_t maxSpeed = 0;
    int32_t maxHttpConn = 0;
    std::wstring linkReport;      // without a leading "http://"
    std::wstring shortcutFile;
    std::wstring shortcutName;
    std::wstring gameCode;
    std::wstring gameName;
    std::wstring runFile;
    std::wstring shortcutDelete;
    int32_t totalTimeDL = 0;
    int32_t totalSizeDL = 0;
};

// value when above 0, else the key's default.
int32_t PositiveOr(int32_t value, int32_t fallback);

// Lower threshold not below the upper one: both take their defaults.
void ApplyJointThresholdFallback(int32_t& minSpeed, int32_t& maxSpeed);

// Applies every single default, then the joint fallback, to raw reads.
void ApplySettingRules(SettingValues& v);

// A leading "http://" in any case is removed; elsewhere it stays.
std::wstring StripHttpScheme(const std::wstring& address);
