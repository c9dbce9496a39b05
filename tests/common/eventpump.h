// SPDX-License-Identifier: MIT
// Dispatching a service client's messages on the test's own thread, as the window does: the
// sink sets an event when messages wait, and the loop calls ProcessMessages until a condition
// holds or the deadline passes.
#pragma once

#include "serviceclient.h"
#include "waithandle.h"

#include <chrono>
#include <functional>

inline bool PumpUntil(CServiceClient& client, CEvent& pending, const std::function<bool()>& done,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    CWaitHandle* handles[1] = {&pending};
    for (;;)
    {
        pending.Reset();
        client.ProcessMessages(-1);
        if (done())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        WaitForHandles(handles, 1, static_cast<int>(left));
    }
}
