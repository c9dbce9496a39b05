// SPDX-License-Identifier: MIT
// Shutdown listener: another program's stop request becomes one notification; one per process.

#include "shutdowner.h"
#include "testutil.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

#include <vector>

namespace
{
// What another program does to ask this one to stop.
void RequestStopFromOutside()
{
#if defined(_WIN32)
    const std::wstring name = L"Local\\zelbin-stop-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE hStop = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    ASSERT_NE(hStop, nullptr);
    ::SetEvent(hStop);
    ::CloseHandle(hStop);
#else
    ::kill(::getpid(), SIGTERM);
#endif
}

#if !defined(_WIN32)
// Each stop signal's action now: the default ends the process; a dead listener's would swallow it.
std::vector<void (*)(int)> StopSignalHandlers()
{
    std::vector<void (*)(int)> handlers;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    {
        struct sigaction action = {};
        ::sigaction(signal, nullptr, &action);
        handlers.push_back(action.sa_handler);
    }
    return handlers;
}
#endif

TEST(Shutdowner, EachStopRequestNotifiesOnceAndOneListenerListens)
{
#if !defined(_WIN32)
    const auto before = StopSignalHandlers();
#endif
    std::atomic<int> notifications = 0;
    {
        Quenby::Shutdowner listener;
        listener.ShutdownRequested.connect([&](boost::shared_ptr<Quenby::Shutdowner>&)
                                           { ++notifications; });
        ASSERT_TRUE(listener.Start());
        Quenby::Shutdowner second;
        EXPECT_FALSE(second.Start());
        RequestStopFromOutside();
        EXPECT_TRUE(WaitUntil([&] { return notifications == 1; }));
        RequestStopFromOutside();
        EXPECT_TRUE(WaitUntil([&] { return notifications == 2; }));
    }
#if !defined(_WIN32)
    EXPECT_EQ(StopSignalHandlers(), before); // the listener that went put back what was there
#endif
    // The listener that went let another start.
    Quenby::Shutdowner next;
    EXPECT_TRUE(next.Start());
    EXPECT_EQ(notifications, 2);
}
} // namespace
