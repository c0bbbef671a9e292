// The texts of the report requests. No value is escaped: each goes into
// the URL unchanged. Portable: no windows.h; any thread.
#pragma once
#include <cstdint>
#include <string>

#include "download_error.h"

enum ReportStatus : int32_t
{
    REPORT_FAILED = 1,
    REPORT_EXCEPTION = 2,
    REPORT_STOPPED = 3,
    REPORT_STARTED = 5,
    REPORT_COMPLETED = 6,
};

// "http://%s?mc=%s&gc=%s&file=%s&status=%d"
std::wstring StatusReportUrl(const std::wstring& address, const std::wstring& machineCode,
                             const std::wstring& gameCode, const std::wstring& fileName,
                             int32_t status);

// "http://%s?pd=<Tollgrove-%s>&rs=<WORD;TG>&gc=<%s>&mc=<%s>&tt=<%lu>&ts=<%lu>"
// with WORD chosen by the result; empty for a result that has no form.
std::wstring OutcomeReportUrl(int32_t result, const std::wstring& address,
                              const std::wstring& version, const std::wstring& gameCode,
                              const std::wstring& machineCode, uint32_t seconds, uint32_t bytes);

// The status report value that follows an attempt's result; 0 when none.
int32_t ReportStatusFor(int32_t result);
