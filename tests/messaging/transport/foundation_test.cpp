// SPDX-License-Identifier: MIT
// Threads that start once and stop on their event, and the exceptions' report lines.

#include "exceptions.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace
{
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
