#include "update_host.h"

#ifdef TG_UPDATE_HOST_FROM_ENVIRONMENT
#include <windows.h>
#endif

// TG_UPDATE_HOST comes from the build (the TOLLGROVE_UPDATE_HOST option).
// Only test builds are compiled with TG_UPDATE_HOST_FROM_ENVIRONMENT: they
// take the host of a server the test started on a free loopback port, and
// without one they have no host at all, so that no test build ever reaches
// the deployment's server. The shipped program cannot be pointed elsewhere.
std::wstring UpdateHost()
{
#ifdef TG_UPDATE_HOST_FROM_ENVIRONMENT
    wchar_t test[256];
    DWORD length = GetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", test, 256);
    return length > 0 && length < 256 ? std::wstring(test, length) : std::wstring();
#else
    return L"" TG_UPDATE_HOST;
#endif
}
