// SPDX-License-Identifier: MIT
// The shutdown listener: another program's stop request becomes one notification, and only one
// listener of a process listens.

#include "shutdowner.h"
#include "testutil.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

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

TEST(Shutdowner, EachStopRequestNotifiesOnceAndOneListenerListens)
{
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
    // The listener that went let another start.
    Quenby::Shutdowner next;
    EXPECT_TRUE(next.Start());
    EXPECT_EQ(notifications, 2);
}
} // namespace
