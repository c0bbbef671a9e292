#include "file_stamps.h"

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

// One "%lu" from pos: blanks, an optional sign, at least one digit.
bool ScanUnsigned(const std::wstring& s, size_t& pos, uint32_t& out)
{
    while (pos < s.size() && IsBlank(s[pos]))
        ++pos;
    bool negative = false;
    if (pos < s.size() && (s[pos] == L'+' || s[pos] == L'-')) {
        negative = s[pos] == L'-';
        ++pos;
    }
    uint64_t v = 0;
    size_t digits = 0;
    while (pos < s.size() && s[pos] >= L'0' && s[pos] <= L'9') {
        v = v * 10 + static_cast<uint64_t>(s[pos] - L'0');
        if (v > 0xFFFFFFFFu)
            return false; // guards against a value the 32-bit half cannot hold
        ++pos;
        ++digits;
    }
    if (digits == 0)
        return false;
    // As the runtime's scan does, a minus sign negates in unsigned arithmetic.
    out = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(v)) : static_cast<uint32_t>(v);
    return true;
}

constexpr uint64_t kTicksPerMinute = 600000000ull;
constexpr uint64_t kLargestCalendarTime = 0x7FFFFFFFFFFFFFFFull;

} // namespace

bool ParseFileStamp(const std::wstring& stamp, uint64_t& fileTime)
{
    size_t pos = 0;
    uint32_t high = 0, low = 0;
    if (!ScanUnsigned(stamp, pos, high))
        return false;
    if (pos >= stamp.size() || stamp[pos] != L':')
        return false;
    ++pos;
    if (!ScanUnsigned(stamp, pos, low))
        return false;
    fileTime = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool CompareFileStamps(const std::wstring& a, const std::wstring& b)
{
    uint64_t ta = 0, tb = 0;
    if (!ParseFileStamp(a, ta) || !ParseFileStamp(b, tb))
        return false;
    if (ta > kLargestCalendarTime || tb > kLargestCalendarTime)
        return false;
    // UTC file time has no leap seconds, so equal year, month, day, hour and
    // minute is the same whole-minute count since 1601.
    return ta / kTicksPerMinute == tb / kTicksPerMinute;
}

bool SameUpdateTime(const std::wstring& local, const std::wstring& remote)
{
    if (CompareFileStamps(local, remote))
        return true;
    uint64_t tl = 0, tr = 0;
    if (!ParseFileStamp(local, tl) || !ParseFileStamp(remote, tr))
        return false;
    constexpr uint64_t kFatStep = 2 * 10000000ull; // two seconds in 100-ns units
    return (tl > tr ? tl - tr : tr - tl) <= kFatStep;
}

std::wstring FormatFileStamp(uint64_t fileTime)
{
    return std::to_wstring(static_cast<uint32_t>(fileTime >> 32)) + L":" +
           std::to_wstring(static_cast<uint32_t>(fileTime));
}
