// Settings that only test builds of the program take from the environment;
// the shipped program always gets the defaults.
//   TOLLGROVE_TEST_LOOPBACK=1   the session stays on 127.0.0.1 (no UPnP,
//                               NAT-PMP, local discovery or DHT routers)
//   TOLLGROVE_TEST_RULE_MS=N    the connection rule runs every N ms
//   TOLLGROVE_TEST_RESUME_SAVE_MS=N  the resume file is saved again at most
//                               every N ms while downloading
#pragma once
#include <cstdint>

struct TestHooks
{
    bool loopbackOnly = false;
    uint32_t ruleIntervalMs = 60000;
    uint32_t resumeSaveIntervalMs = 60000;
};

// Read once; any thread.
const TestHooks& GetTestHooks();
