// Waiting for what a test means instead of sleeping for a while: polls a
// condition until it holds or a bound passes. Portable (no windows.h); the
// Win32 tests that must keep their thread's messages flowing meanwhile use
// the pumping form in dialog_driver.h.
#pragma once

#include <chrono>
#include <thread>

namespace tg::test {

// Polls `pred` until it holds or `limit` passes; whether it held.
template <class Pred, class Rep, class Period>
bool wait_until(Pred pred, std::chrono::duration<Rep, Period> limit)
{
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace tg::test
