#include "config_rules.h"

int32_t PositiveOr(int32_t value, int32_t fallback)
{
    return value > 0 ? value : fallback;
}

void ApplyJointThresholdFallback(int32_t& minSpeed, int32_t& maxSpeed)
{
    if (!(minSpeed < maxSpeed)) {
        minSpeed = kDefaultMinSpeed;
        maxSpeed = kDefaultMaxSpeed;
    }
}

void ApplySettingRules(SettingValues& v)
{
    v.minSpeed = PositiveOr(v.minSpeed, kDefaultMinSpeed);
    v.maxSpeed = PositiveOr(v.maxSpeed, kDefaultMaxSpeed);
    v.maxHttpConn = PositiveOr(v.maxHttpConn, kDefaultMaxHttpConn);
    v.linkReport = StripHttpScheme(v.linkReport);
    ApplyJointThresholdFallback(v.minSpeed, v.maxSpeed);
}

std::wstring StripHttpScheme(const std::wstring& address)
{
    static const wchar_t kScheme[] = L"http://";
    const size_t n = sizeof(kScheme) / sizeof(kScheme[0]) - 1;
    if (address.size() < n)
        return address;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = address[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kScheme[i])
            return address;
    }
    return address.substr(n);
}
