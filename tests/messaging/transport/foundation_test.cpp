// SPDX-License-Identifier: MIT
// Threads that start once and stop on their event, and the exceptions' report lines.

#include "exceptions.h"
#include "testutil.h"
#include "threadbase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

namespace
{
class CLoopThread : public CThreadBase
{
public:
    ~CLoopThread() override
    {
        Stop();
        Join();
    }
    std::atomic<int> runs = 0;
    std::atomic<bool> left = false;

protected:
    void Run() override
    {
        ++runs;
        CWaitHandle* handles[1] = {GetStopEvent()};
        while (WaitForEvents(handles, 1, WAIT_INFINITE) != 0)
        {
        }
        left = true;
    }
};

TEST(ThreadBase, StopAndJoinEndTheBodyAndItNeverRunsAgain)
{
    CLoopThread thread;
    thread.Join(); // not started: returns at once
    thread.Start();
    thread.Start();
    EXPECT_TRUE(WaitUntil([&] { return thread.runs == 1; }));
    EXPECT_FALSE(thread.left);
    thread.Stop();
    thread.Join();
    EXPECT_TRUE(thread.left);
    thread.Start();
    thread.Join();
    EXPECT_EQ(thread.runs, 1);
}

TEST(Exceptions, ReportWritesCodeAndText)
{
    CTraceRecorder trace;
    CSocketLibException closed(0);
    closed.Report();
    CSystemException refused(ECONNREFUSED);
    refused.Report();
    CExceptionBase odd(5, 7); // no such source: no text
    odd.Report();
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Exception (Error code = 0) : Unknown error\n");
    EXPECT_EQ(lines[1], "Exception (Error code = " + std::to_string(ECONNREFUSED) +
                            ") : Connection refused\n");
    EXPECT_EQ(lines[2], "Exception (Error code = 5) : <null>\n");
}

} // namespace
