#include "test_hooks.h"

#include <windows.h>

#include <cwchar>

namespace {

TestHooks ReadHooks()
{
    TestHooks h;
#ifdef TG_TEST_HOOKS
    wchar_t buf[32];
    if (GetEnvironmentVariableW(L"TOLLGROVE_TEST_LOOPBACK", buf, 32) > 0)
        h.loopbackOnly = buf[0] == L'1';
    DWORD n = GetEnvironmentVariableW(L"TOLLGROVE_TEST_RULE_MS", buf, 32);
    if (n > 0 && n < 32) {
        const unsigned long ms = std::wcstoul(buf, nullptr, 10);
        if (ms > 0)
            h.ruleIntervalMs = static_cast<uint32_t>(ms);
    }
#endif
    return h;
}

} // namespace

const TestHooks& GetTestHooks()
{
    static const TestHooks hooks = ReadHooks();
    return hooks;
}
