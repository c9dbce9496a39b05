// SPDX-License-Identifier: MIT
// Events and the wait for any handle, the stop request, and numbers as a person types them.

#include "numbers.h"
#include "stopsignal.h"
#include "waithandle.h"

#include <gtest/gtest.h>

#include <functional>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{
// Events are manual-reset and start clear: a wait returns the lowest signalled index and consumes
// nothing, and one Reset clears two Sets. A wait covers at most 64 handles (Windows' own limit,
// kept on every platform): 64 work to the last one, 65 and none fail at once.
TEST(WaitForHandles, ReturnsTheLowestSignalledOfAtMostSixtyFour)
{
    CEvent events[65];
    CWaitHandle* handles[65];
    for (int i = 0; i < 65; ++i)
        handles[i] = &events[i];
    EXPECT_EQ(WaitForHandles(handles, 64, 10), WAIT_TIMEOUT_RESULT);
    events[63].Set();
    EXPECT_EQ(WaitForHandles(handles, 64, 0), 63);
    EXPECT_EQ(WaitForHandles(handles, 63, 0), WAIT_TIMEOUT_RESULT);
    EXPECT_EQ(WaitForHandles(handles, 65, 0), WAIT_FAILED_RESULT);
    EXPECT_EQ(WaitForHandles(handles, 0, 0), WAIT_FAILED_RESULT);
    events[2].Set();
    EXPECT_EQ(WaitForHandles(handles, 64, 0), 2);
    EXPECT_FALSE(events[0].IsSet());
    events[0].Set();
    events[0].Set();
    EXPECT_EQ(WaitForHandles(handles, 64, 0), 0);
    EXPECT_TRUE(events[0].IsSet());
    events[0].Reset();
    EXPECT_FALSE(events[0].IsSet());
    EXPECT_EQ(WaitForHandles(handles, 3, 0), 2);
}

#if !defined(_WIN32)
// A program started with its standard input closed (as a service may be) gets descriptor 0 for
// its first handle: that is a handle like any other, and a Set or a stop request reaches a wait.
TEST(WaitForHandles, DescriptorZeroIsAHandleLikeAnyOther)
{
    const struct
    {
        const char* name;
        std::function<int()> check; // in a child whose descriptor 0 is closed: 0 when it held
    } cases[] = {
        {"event",
         []
         {
             CEvent event;
             event.Set();
             CWaitHandle* handles[1] = {&event};
             return event.GetHandle() == 0 && WaitForHandles(handles, 1, 0) == 0 ? 0 : 1;
         }},
        {"stop request",
         []
         {
             CStopSignal stop;
             CStopSignal::Raise();
             CWaitHandle* handles[1] = {&stop};
             return stop.GetHandle() == 0 && WaitForHandles(handles, 1, 5000) == 0 ? 0 : 1;
         }},
    };
    for (const auto& c : cases)
    {
        const pid_t child = ::fork();
        if (child == 0)
        {
            ::close(0);
            ::_exit(c.check());
        }
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name << ", " << status;
    }
}
#endif

// A number as a person types it: decimal, or hexadecimal after "0x" or "0X" in either case;
// nothing before or after, nothing above the maximum, and no value stored when it is refused.
TEST(WholeNumbers, DecimalOrHexadecimalWholeAndInRange)
{
    const struct
    {
        const char* text;
        uint64_t max;
        uint64_t value; // 77: refused, left as it was
    } cases[] = {
        // clang-format off
        {"0", 10, 0}, {"10", 10, 10}, {"11", 10, 77}, {"0x1f", 255, 31}, {"0X1F", 255, 31},
        {"0xfF", 255, 255}, {"0x100", 255, 77}, {"0x", 255, 77}, {"1f", 255, 77}, {"x1", 255, 77},
        {" 1", 255, 77}, {"-1", 255, 77}, {"18446744073709551615", UINT64_MAX, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, 77}, {"0x10000000000000000", UINT64_MAX, 77},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        uint64_t value = 77;
        EXPECT_EQ(ParseWholeNumber(c.text, c.max, value), c.value != 77) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}
} // namespace
