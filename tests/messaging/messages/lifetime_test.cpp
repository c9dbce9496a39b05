// SPDX-License-Identifier: MIT
// Waiting for a response, buffers that cannot be had, and the trace channel's bounds. Reference
// counts are checked where responses race and where the dispatch thread lets go of a client; that
// two requests have two correlation values, on the wire in the connection tests.

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <thread>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace
{
// A response given twice (a duplicate from the service) races the waiter as it wakes: the waiter
// gets one of them whole, and every reference is accounted for (the sanitizer builds watch it).
TEST(Request, ResponsesRacingTheWakingWaiter)
{
    for (int round = 0; round < 200; ++round)
    {
        CRefPtr<CEmptyRequest> request;
        MakeEmptyRequest(request, GetLogFileRequest, GetLogFileResponse);
        auto first = BufferOf(Bytes("00 00 00 0B 03 00 00 00 01 00 00"));
        auto second = BufferOf(Bytes("00 00 00 0B 03 00 00 00 01 00 01"));
        std::thread a([&] { request->SetResponse(first.Get()); });
        std::thread b([&] { request->SetResponse(second.Get()); });
        CRefPtr<CByteBuffer> out;
        request->WaitForResponse(out, 10000);
        a.join();
        b.join();
        ASSERT_TRUE(out.Get() == first.Get() || out.Get() == second.Get()) << round;
        // Ours, the request's (the later one) and the waiter's.
        EXPECT_EQ(first->GetRefCount() + second->GetRefCount(), 4) << round;
        request.Reset();
        out.Reset();
        EXPECT_EQ(first->GetRefCount() + second->GetRefCount(), 2) << round;
    }
}

#if !defined(_WIN32)
// A copy that the memory cannot be had for (an address space of 4 GiB cannot take 4 GiB more) is
// no buffer at all: never a write through a buffer that was not made. Copies that can be made
// are every test's BufferOf, an empty one the frame test's empty buffer.
TEST(ByteBuffer, ACopyIsTheBytesOrNoBuffer)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than the limit";
#endif
    const uint8_t bytes[] = {1, 2, 3};
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &old), 0);
    rlimit low = old;
    low.rlim_cur = 1ull << 32;
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &low), 0);
    CRefPtr<CByteBuffer> copy;
    MakeByteBufferCopy(copy, bytes, 0xFFFFFFFFu);
    ::setrlimit(RLIMIT_AS, &old);
    EXPECT_FALSE(copy);
}
#endif

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
