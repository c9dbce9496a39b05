// SPDX-License-Identifier: MIT
// Request correlation values, waiting for a response, and buffers that cannot be had. Reference
// counts are checked where responses race and where the dispatch thread lets go of a client.

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace
{
TEST(Request, CorrelationValuesAreUniqueAmongLiveRequestsAndNeverZero)
{
    std::vector<CRefPtr<CEmptyRequest>> live;
    std::set<uint32_t> seen;
    for (int i = 0; i < 5000; ++i)
    {
        CRefPtr<CEmptyRequest> request;
        MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
        EXPECT_NE(request->GetCorrelationID(), 0u);
        EXPECT_TRUE(seen.insert(request->GetCorrelationID()).second);
        if (i % 2)
            live.push_back(request); // half stay alive, half die at once
    }
}

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
// A copy is the bytes given, or no buffer at all when the memory cannot be had (an address space
// of 4 GiB cannot take 4 GiB more): never a write through a buffer that was not made.
TEST(ByteBuffer, ACopyIsTheBytesOrNoBuffer)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than the limit";
#endif
    const uint8_t bytes[] = {1, 2, 3};
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &old), 0);
    for (const auto& [iLength, limited, expected] : {std::tuple{3u, false, std::string("01 02 03")},
                                                     {0u, false, ""},
                                                     {0xFFFFFFFFu, true, "none"}})
    {
        rlimit low = old;
        low.rlim_cur = limited ? 1ull << 32 : old.rlim_cur;
        ASSERT_EQ(::setrlimit(RLIMIT_AS, &low), 0);
        CRefPtr<CByteBuffer> copy;
        MakeByteBufferCopy(copy, bytes, iLength);
        ::setrlimit(RLIMIT_AS, &old);
        EXPECT_EQ(copy ? Hex(copy->Data(), copy->GetSize()) : "none", expected) << iLength;
    }
}
#endif
} // namespace
