// SPDX-License-Identifier: MIT
// The multicast look-up on the fixed group and port (run in a private network namespace), and a
// client that finds a test service, connects, talks to it and survives its restart.

#include "connectionmanager.h"
#include "servicelocator.h"
#include "transporttest.h"

#include <chrono>

namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Listens on the group like a service does; answers each look-up request with what the test's
// policy returns for that request (its number, from 1), and records when requests came.
class CResponder
{
public:
    using Policy = std::function<std::vector<ByteVector>(int request)>;

    explicit CResponder(Policy policy)
        : m_socket(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, SERVICE_LOCATOR_INTERFACE, 0),
          m_policy(std::move(policy))
    {
        m_socket.CreateReadNetworkEvent();
        m_thread = std::thread([this] { Run(); });
    }
    ~CResponder()
    {
        m_stop.Set();
        m_thread.join();
    }
    void Announce(uint16_t port)
    {
        uint8_t reply[SERVICE_LOOKUP_REPLY_SIZE];
        BuildLookupReply(SERVICE_IDENTIFIER, port, reply);
        m_socket.SendTo(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, reply, sizeof reply);
    }
    std::vector<Clock::time_point> Requests()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_requests;
    }

private:
    void Run()
    {
        CWaitHandle* handles[2] = {&m_stop, m_socket.GetNetworkEvent()};
        while (WaitForHandles(handles, 2, WAIT_INFINITE) == 1)
        {
            if (!(m_socket.GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ))
                continue;
            uint8_t datagram[1024];
            const int n = m_socket.Receive(datagram, sizeof datagram);
            if (!IsLookupRequest(datagram, n, SERVICE_IDENTIFIER))
                continue;
            int number;
            {
                std::lock_guard<std::mutex> g(m_mutex);
                m_requests.push_back(Clock::now());
                number = static_cast<int>(m_requests.size());
            }
            for (const ByteVector& reply : m_policy(number))
                m_socket.SendTo(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, reply.data(),
                                static_cast<int>(reply.size()));
        }
    }

    CMulticastSocket m_socket;
    Policy m_policy;
    CEvent m_stop;
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_requests;
    std::thread m_thread;
};

ByteVector Reply(uint16_t port)
{
    ByteVector reply(SERVICE_LOOKUP_REPLY_SIZE);
    BuildLookupReply(SERVICE_IDENTIFIER, port, reply.data());
    return reply;
}

TEST(Locator, DatagramsHaveTheirExactBytes)
{
    uint8_t request[SERVICE_LOOKUP_REQUEST_SIZE];
    BuildLookupRequest(SERVICE_IDENTIFIER, request);
    EXPECT_EQ(Hex(request, sizeof request),
              "00 00 00 64 3C 91 5E 07 D2 4A 6B 18 9F 20 C4 73 E8 5D 01 A6");
    const ByteVector reply = Reply(0xABCD);
    EXPECT_EQ(Hex(reply.data(), reply.size()),
              "00 00 00 65 3C 91 5E 07 D2 4A 6B 18 9F 20 C4 73 E8 5D 01 A6 AB CD");
    EXPECT_EQ(ParseLookupReply(reply.data(), 22, SERVICE_IDENTIFIER), 0xABCD);
}

TEST(Locator, FindsAServiceThatAnswersTheFirstRequest)
{
    CResponder responder([](int) { return std::vector<ByteVector>{Reply(4242)}; });
    const auto start = Clock::now();
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 2000), 4242);
    EXPECT_LT(Clock::now() - start, 600ms);
}

TEST(Locator, WithNoServiceSendsExactlyThreeRequestsEvery666Ms)
{
    CResponder listener([](int) { return std::vector<ByteVector>{}; });
    const auto start = Clock::now();
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 2000), 0);
    EXPECT_GE(Clock::now() - start, 1998ms);
    ASSERT_TRUE(WaitUntil([&] { return listener.Requests().size() >= 3; }));
    const auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 1; i < requests.size(); ++i)
    {
        EXPECT_GE(requests[i] - requests[i - 1], 600ms);
        EXPECT_LT(requests[i] - requests[i - 1], 900ms);
    }
}

TEST(Locator, RepliesThatAreNotExactlyOursAreIgnored)
{
    CResponder responder(
        [](int)
        {
            ByteVector wrongId = Reply(1);
            wrongId[10] ^= 1;
            ByteVector shorter = Reply(2);
            shorter.pop_back();
            ByteVector longer = Reply(3);
            longer.push_back(0);
            ByteVector wrongCode = Reply(4);
            wrongCode[3] = 100;
            return std::vector<ByteVector>{wrongId, shorter, longer, wrongCode};
        });
    EXPECT_EQ(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 300), 0);
    EXPECT_EQ(responder.Requests().size(), 3u);
}

class CPortListener : public IServiceLocatorListener
{
public:
    void OnServicePortFound(uint16_t port) override
    {
        ports.push_back(port);
        found.Set();
    }
    std::vector<uint16_t> ports;
    CEvent found;
};

TEST(Locator, WaitingLocatorAcceptsAnAnnouncementAndReportsOnce)
{
    CResponder service([](int) { return std::vector<ByteVector>{}; });
    CPortListener listener;
    {
        CServiceLocator locator("127.0.0.1", SERVICE_IDENTIFIER, &listener);
        locator.Start();
        service.Announce(6001);
        CWaitHandle* handles[1] = {&listener.found};
        ASSERT_EQ(WaitForHandles(handles, 1, 5000), 0);
    }
    EXPECT_EQ(listener.ports, std::vector<uint16_t>{6001});
}

TEST(Locator, StoppedLocatorReportsZero)
{
    CPortListener listener;
    {
        CServiceLocator locator("127.0.0.1", SERVICE_IDENTIFIER, &listener);
        locator.Start();
    }
    EXPECT_EQ(listener.ports, std::vector<uint16_t>{0});
}

} // namespace
