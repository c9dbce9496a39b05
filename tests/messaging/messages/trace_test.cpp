// SPDX-License-Identifier: MIT
// The trace channel.

#include "testutil.h"
#include "trace.h"

#include <gtest/gtest.h>

namespace
{
TEST(TraceChannel, DiscardsWithoutSinkAndCutsLongLines)
{
    Trace("nobody hears %d\n", 1);
    CTraceRecorder trace;
    const std::string longText(5000, 'x');
    Trace("%s", longText.c_str());
    Trace("value = %d.", 42);
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(4095, 'x'));
    EXPECT_EQ(lines[1], "value = 42.");
}
} // namespace
