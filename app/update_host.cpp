#include "update_host.h"

#ifdef TG_UPDATE_HOST_FROM_ENVIRONMENT
#include <windows.h>
#endif

// TG_UPDATE_HOST comes from the build (the TOLLGROVE_UPDATE_HOST option).
// Only test programs are compiled with TG_UPDATE_HOST_FROM_ENVIRONMENT: they
// point the host at a server the test bound to a free loopback port. The
// shipped program cannot be pointed elsewhere.
std::wstring UpdateHost()
{
#ifdef TG_UPDATE_HOST_FROM_ENVIRONMENT
    wchar_t test[256];
    DWORD length = GetEnvironmentVariableW(L"TOLLGROVE_TEST_UPDATE_HOST", test, 256);
    if (length > 0 && length < 256)
        return test;
#endif
    return L"" TG_UPDATE_HOST;
}
