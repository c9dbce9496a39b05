// SPDX-License-Identifier: MIT
// Events and the wait for any handle.

#include "waithandle.h"

#include <gtest/gtest.h>

#include <chrono>

namespace
{
TEST(Event, IsManualResetAndStartsClear)
{
    CEvent event;
    EXPECT_FALSE(event.IsSet());
    event.Set();
    event.Set(); // setting twice still needs only one Reset
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.IsSet()); // a check does not consume it
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    CEvent initially(true);
    EXPECT_TRUE(initially.IsSet());
}

TEST(WaitForHandles, ReturnsTheLowestSignalledIndexOrTimeOut)
{
    CEvent events[3];
    CWaitHandle* handles[3] = {&events[0], &events[1], &events[2]};
    const struct
    {
        bool set[3];
        int expected;
    } cases[] = {
        {{false, false, false}, WAIT_TIMEOUT_RESULT},
        {{false, true, false}, 1},
        {{true, false, true}, 0},
        {{false, true, true}, 1},
        {{false, false, true}, 2},
    };
    for (const auto& c : cases)
    {
        for (int i = 0; i < 3; ++i)
            c.set[i] ? events[i].Set() : events[i].Reset();
        EXPECT_EQ(WaitForHandles(handles, 3, 10), c.expected);
    }
}

// A wait covers at most 64 handles (Windows' own limit, kept on every platform): 64 work to the
// last one, 65 and none fail at once.
TEST(WaitForHandles, SixtyFourHandlesAtMost)
{
    CEvent events[65];
    CWaitHandle* handles[65];
    for (int i = 0; i < 65; ++i)
        handles[i] = &events[i];
    events[63].Set();
    EXPECT_EQ(WaitForHandles(handles, 64, 0), 63);
    EXPECT_EQ(WaitForHandles(handles, 63, 0), WAIT_TIMEOUT_RESULT);
    EXPECT_EQ(WaitForHandles(handles, 65, 0), WAIT_FAILED_RESULT);
    EXPECT_EQ(WaitForHandles(handles, 0, 0), WAIT_FAILED_RESULT);
}
} // namespace
