// Report requests and the values that fill them. Worker thread; SendReport
// blocks until WinINet has the answer's headers, gives up, or the report's
// head time-out (10 s) passes: a silent endpoint only delays the download.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "request_limits.h"

// A report's limits: its answer's head within 10 s, as it holds up the
// download; the body is never read, so none of it is taken.
RequestLimits ReportLimits();

// Opens the URL (no redirects followed, the answer not read); 1 when it
// could be opened within the limits, else 0.
int32_t SendReport(const std::wstring& url, const RequestLimits& limits = ReportLimits());

// The first adapter's address as 12 upper-case hex digits; empty when the
// adapter list is unavailable or does not fit 23,328 bytes.
std::wstring GetMacAddressString();

// MD5 of the text in the ANSI code page: 32 lower-case hex digits. The
// bytes are cut at the first zero byte and at 65,535 bytes.
std::wstring Md5Hex(const std::wstring& text);

// The program's own file name (after the last '\' of its module path).
std::wstring GetExeFileName();
