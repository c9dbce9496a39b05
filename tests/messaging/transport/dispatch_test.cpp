// SPDX-License-Identifier: MIT
// The dispatch thread's matching rule and its queue, without sockets.

#include "dispatchthread.h"
#include "transporttest.h"

#include <utility>

namespace
{
class DispatchTest : public testing::Test
{
protected:
    DispatchTest() : thread(nullptr) { thread.Start(); }
    ~DispatchTest() override
    {
        thread.Stop();
        thread.Join();
    }
    // A marker event queued last: once it is delivered, everything queued before has run.
    void Drain()
    {
        const ByteVector marker = Bytes("00 00 00 63 01");
        const size_t markers = Markers();
        thread.QueueInbound(client.Get(), BufferOf(marker).Get());
        ASSERT_TRUE(WaitUntil([&] { return Markers() == markers + 1; }));
    }
    size_t Markers()
    {
        const auto delivered = client->Messages();
        return std::count(delivered.begin(), delivered.end(), Bytes("00 00 00 63 01"));
    }

    CMessageDispatchThread thread;
    CRefPtr<CRecordingClient> client{new CRecordingClient};
};

TEST_F(DispatchTest, OnlyCorrelatedResponsesOfAtLeastNineBytesAreMatched)
{
    const char* unsolicited[] = {
        "00 00 00 0F 03 00 00 00",          // kind 3 but too short to carry a correlation value
        "00 00 00 08 01 00 00 00 2A 00 00", // one-way, whatever its bytes 5 to 8
        "00 00 00 0E 02 00 00 00 2A",       // a request from the service
        "00 00 00 0F 03 00 00 00 00",       // a response with correlation 0
        "00 00 00 0F 03 00 00 00 2A",       // matched to no request: dropped
    };
    for (const char* bytes : unsolicited)
        thread.QueueInbound(client.Get(), BufferOf(Bytes(bytes)).Get());
    Drain();
    const auto delivered = client->Messages();
    ASSERT_EQ(delivered.size(), 5u); // the first four and the marker
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Hex(delivered[i].data(), delivered[i].size()), unsolicited[i]);
}

TEST_F(DispatchTest, EveryMatchingPendingRequestGetsTheResponseAndTheLastOneWins)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
    const uint32_t c = request->GetCorrelationID();
    auto response = [&](uint8_t tag)
    {
        return BufferOf({0, 0, 0, 0x0F, 3, uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8),
                         uint8_t(c), tag});
    };
    auto wrongId = response(1);
    wrongId->Data()[3] = 0x0B;
    thread.AddPendingRequest(request.Get(), client.Get());
    thread.QueueInbound(client.Get(), wrongId.Get());
    Drain();
    CRefPtr<CByteBuffer> out;
    request->WaitForResponse(out, 0);
    EXPECT_FALSE(out); // right correlation value, other identifier: dropped

    thread.QueueInbound(client.Get(), response(2).Get());
    thread.QueueInbound(client.Get(), response(3).Get());
    thread.RemovePendingRequest(request.Get(), client.Get());
    thread.QueueInbound(client.Get(), response(4).Get()); // after removal: dropped
    Drain();
    request->WaitForResponse(out, 0);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->Data()[9], 3);
    EXPECT_EQ(client->Count(), 2u); // only the two markers
}

// A client that writes its name and each message's last byte to a shared list (the dispatch
// thread's only, until it is joined), and stops the thread at a message whose last byte is 9.
class CNamedClient : public CClientObject
{
public:
    CNamedClient(char name, std::vector<std::string>& order, CThreadBase& thread)
        : m_name(name), m_order(order), m_thread(thread)
    {
    }
    void Deliver(CByteBuffer* pBuffer) override
    {
        const uint8_t tag = pBuffer->Data()[pBuffer->GetSize() - 1];
        m_order.push_back(m_name + std::to_string(tag));
        if (tag == 9)
            m_thread.Stop();
    }

private:
    char m_name;
    std::vector<std::string>& m_order;
    CThreadBase& m_thread;
};

// Clients take turns, a command each: a backlog never delays another's message, and messages keep
// their order. A stop ends a backlog between commands, the rest discarded unrun, its client let go.
TEST(DispatchThread, ClientsTakeTurnsAndAStopEndsABacklogAtOnce)
{
    std::vector<std::string> order;
    auto thread = std::make_unique<CMessageDispatchThread>(nullptr);
    CRefPtr<CNamedClient> a(new CNamedClient('a', order, *thread));
    CRefPtr<CNamedClient> b(new CNamedClient('b', order, *thread));
    const std::pair<CNamedClient*, uint8_t> queued[] = {{a.Get(), 1}, {a.Get(), 2}, {a.Get(), 3},
                                                        {b.Get(), 1}, {a.Get(), 4}, {b.Get(), 2},
                                                        {a.Get(), 9}, {a.Get(), 5}};
    for (const auto& [pClient, tag] : queued)
        thread->QueueInbound(pClient, BufferOf({0, 0, 0, 0x0D, 1, tag}).Get());
    thread->QueueDisconnect(nullptr);
    thread->Start();
    thread->Join();
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b1", "a2", "b2", "a3", "a4", "a9"}));
    EXPECT_EQ(thread->GetQueuedInboundBytes(a.Get()), 6u + 128);
    thread.reset();
    EXPECT_EQ(a->GetRefCount(), 1); // the discarded command let go of it
}
} // namespace
