// wait_until for a thread that owns windows: dispatches its messages while
// it waits, so that sends from other threads and the window's own timers
// and paints go on meanwhile.
#pragma once

#include <windows.h>

#include <chrono>

namespace tg::test {

// Dispatches this thread's messages until `pred` holds or `limit` passes;
// whether it held.
template <class Pred, class Rep, class Period>
bool pump_until(Pred pred, std::chrono::duration<Rep, Period> limit)
{
    auto const deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT | QS_SENDMESSAGE);
    }
}

} // namespace tg::test
