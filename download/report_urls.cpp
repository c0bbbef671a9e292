#include "report_urls.h"

namespace {

std::wstring Decimal(uint64_t v)
{
    std::wstring s;
    do {
        s.insert(s.begin(), static_cast<wchar_t>(L'0' + v % 10));
        v /= 10;
    } while (v != 0);
    return s;
}

std::wstring SignedDecimal(int32_t v)
{
    if (v < 0)
        return L"-" + Decimal(static_cast<uint64_t>(-static_cast<int64_t>(v)));
    return Decimal(static_cast<uint64_t>(v));
}

} // namespace

std::wstring StatusReportUrl(const std::wstring& address, const std::wstring& machineCode,
                             const std::wstring& gameCode, const std::wstring& fileName,
                             int32_t status)
{
    return L"http://" + address + L"?mc=" + machineCode + L"&gc=" + gameCode + L"&file=" +
           fileName + L"&status=" + SignedDecimal(status);
}

std::wstring OutcomeReportUrl(int32_t result, const std::wstring& address,
                              const std::wstring& version, const std::wstring& gameCode,
                              const std::wstring& machineCode, uint32_t seconds, uint32_t bytes)
{
    const wchar_t* word = nullptr;
    switch (result) {
    case WR_COMPLETED: word = L"OK"; break;
    case WR_FAILED: word = L"FAILED"; break;
    case WR_EXCEPTION: word = L"EXCEPTION"; break;
    case WR_STOPPED: word = L"CANCEL"; break;
    default: return std::wstring();
    }
    return L"http://" + address + L"?pd=<Tollgrove-" + version + L">&rs=<" + word +
           L";TG>&gc=<" + gameCode + L">&mc=<" + machineCode + L">&tt=<" + Decimal(seconds) +
           L">&ts=<" + Decimal(bytes) + L">";
}

int32_t ReportStatusFor(int32_t result)
{
    switch (result) {
    case WR_COMPLETED: return REPORT_COMPLETED;
    case WR_FAILED: return REPORT_FAILED;
    case WR_EXCEPTION: return REPORT_EXCEPTION;
    case WR_STOPPED: return REPORT_STOPPED;
    default: return 0;
    }
}
