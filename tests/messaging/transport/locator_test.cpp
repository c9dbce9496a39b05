// SPDX-License-Identifier: MIT
// The multicast look-up on the fixed group and port, run in a private network namespace: the
// datagrams' bytes, the requests' pace, and which replies count.

#include "fakeanswerer.h"
#include "rawsocket.h"
#include "servicelocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using Replies = std::vector<ByteVector>;

TEST(Locator, DatagramsHaveTheirExactBytes)
{
    uint8_t request[SERVICE_LOOKUP_REQUEST_SIZE];
    BuildLookupRequest(SERVICE_IDENTIFIER, request);
    EXPECT_EQ(Hex(request, sizeof request),
              "00 00 00 64 3C 91 5E 07 D2 4A 6B 18 9F 20 C4 73 E8 5D 01 A6");
    const ByteVector reply = LookupReply(0xABCD);
    EXPECT_EQ(Hex(reply.data(), reply.size()),
              "00 00 00 65 3C 91 5E 07 D2 4A 6B 18 9F 20 C4 73 E8 5D 01 A6 AB CD");
    EXPECT_EQ(ParseLookupReply(reply.data(), 22, SERVICE_IDENTIFIER), 0xABCD);
}

TEST(Locator, WithNoServiceSendsExactlyThreeRequestsEvery666Ms)
{
    CLookupResponder listener([](int) { return Replies{}; });
    const auto start = Clock::now();
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 2000), 0);
    EXPECT_GE(Clock::now() - start, 1998ms);
    ASSERT_TRUE(WaitUntil([&] { return listener.Requests().size() >= 3; }));
    const auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 1; i < requests.size(); ++i)
    {
        EXPECT_GE(requests[i] - requests[i - 1], 600ms);
        EXPECT_LT(requests[i] - requests[i - 1], 1000ms); // half the look-up: a third is 666
    }
}

// A wrong identifier byte, a byte short or over, a wrong code: no reply of these counts.
TEST(Locator, RepliesThatAreNotExactlyOursAreIgnored)
{
    CLookupResponder responder(
        [](int)
        {
            Replies replies(4, LookupReply(1));
            replies[0][10] ^= 1;
            replies[1].pop_back();
            replies[2].push_back(0);
            replies[3][3] = 100;
            return replies;
        });
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 300), 0);
    EXPECT_EQ(responder.Requests().size(), 3u);
}

// Answers that are not taken neither hold the look-up beyond its time nor make it spin: a port
// refused, then a flood of ever new ones.
TEST(Locator, RefusedAnswersEndTheLookUpOnTime)
{
    const auto refuse = [](uint16_t) { return std::this_thread::sleep_for(1ms), false; };
    {
        CLookupResponder stale(uint16_t{7});
        const double cpu = CpuSeconds(); // std::clock() is wall time on Windows
        EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 300, refuse), 0);
        EXPECT_LT(CpuSeconds() - cpu, 0.1); // of the 300 ms
    }
    std::atomic<bool> flooding = true;
    std::thread flood(
        [&]
        {
            CMulticastSocket socket(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, "127.0.0.1", 0);
            for (uint16_t port = 1; flooding; port = port % 60000 + 1)
            {
                socket.SendTo(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, LookupReply(port).data(),
                              22);
                if (port % 16 == 0) // sixteen new ports a millisecond, faster than they are tried
                    std::this_thread::sleep_for(1ms);
            }
        });
    const auto start = Clock::now();
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 300, refuse), 0);
    EXPECT_LT(Clock::now() - start, 3000ms); // 300 ms, and a try begun before its end
    flooding = false;
    flood.join();
}

} // namespace
