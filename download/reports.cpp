#include "reports.h"

#include <windows.h>
#include <iphlpapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "internet_request.h"
#include "md5.h"
#include "support_formats.h"
#include "support_routines.h"

namespace {
constexpr DWORD kReportFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kReportFlags == 0x04200100, "the report's request flags");
constexpr ULONG kAdapterBufferBytes = 23328;
constexpr int kMd5TextBytes = 65535;
} // namespace

RequestLimits ReportLimits()
{
    RequestLimits limits;
    limits.headTimeout = std::chrono::seconds(10);
    limits.sizeCap = 0;
    return limits;
}

int32_t SendReport(const std::wstring& url, const RequestLimits& limits)
{
    // The answer's head is waited for, within its time-out; its body is
    // never read.
    InternetRequest request(limits);
    return request.Open(url, std::wstring(), kReportFlags) ? 1 : 0;
}

std::wstring GetMacAddressString()
{
    // IP_ADAPTER_INFO holds pointers: keep the buffer aligned for them.
    std::vector<unsigned long long> storage((kAdapterBufferBytes + 7) / 8);
    auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(storage.data());
    ULONG size = kAdapterBufferBytes;
    if (GetAdaptersInfo(info, &size) != ERROR_SUCCESS)
        return std::wstring();
    wchar_t text[13] = {};
    std::swprintf(text, 13, L"%02X%02X%02X%02X%02X%02X", info->Address[0], info->Address[1],
                  info->Address[2], info->Address[3], info->Address[4], info->Address[5]);
    return text;
}

std::wstring Md5Hex(const std::wstring& text)
{
    std::string bytes;
    if (!text.empty()) {
        const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                               nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            bytes.resize(static_cast<size_t>(needed));
            WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                                needed, nullptr, nullptr);
        }
    }
    // The digest covers what a 65,536-byte zero-filled buffer would hold.
    if (bytes.size() > static_cast<size_t>(kMd5TextBytes))
        bytes.resize(kMd5TextBytes);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos)
        bytes.resize(zero);
    return Md5HexOfBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::wstring GetExeFileName()
{
    return FileNameOf(ModuleFileName());
}
