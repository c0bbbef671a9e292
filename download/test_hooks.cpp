#include "test_hooks.h"

#include <windows.h>

#include <cwchar>

namespace {

#ifdef TG_TEST_HOOKS
// A positive number of milliseconds from the environment, else `fallback`.
uint32_t ReadMilliseconds(const wchar_t* name, uint32_t fallback)
{
    wchar_t buf[32];
    const DWORD n = GetEnvironmentVariableW(name, buf, 32);
    if (n == 0 || n >= 32)
        return fallback;
    const unsigned long ms = std::wcstoul(buf, nullptr, 10);
    return ms > 0 ? static_cast<uint32_t>(ms) : fallback;
}
#endif

TestHooks ReadHooks()
{
    TestHooks h;
#ifdef TG_TEST_HOOKS
    wchar_t buf[32];
    if (GetEnvironmentVariableW(L"TOLLGROVE_TEST_LOOPBACK", buf, 32) > 0)
        h.loopbackOnly = buf[0] == L'1';
    h.ruleIntervalMs = ReadMilliseconds(L"TOLLGROVE_TEST_RULE_MS", h.ruleIntervalMs);
    h.resumeSaveIntervalMs = ReadMilliseconds(L"TOLLGROVE_TEST_RESUME_SAVE_MS", h.resumeSaveIntervalMs);
#endif
    return h;
}

} // namespace

const TestHooks& GetTestHooks()
{
    static const TestHooks hooks = ReadHooks();
    return hooks;
}
