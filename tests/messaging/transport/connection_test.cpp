// SPDX-License-Identifier: MIT
// Client objects connected through the connection manager to a test peer on loopback: handshake,
// registration, request/response matching, events in order, lost connections and thread pooling.

#include "connectionmanager.h"
#include "transporttest.h"

#include <chrono>
#include <dirent.h>
#include <sys/resource.h>

namespace
{
using namespace std::chrono_literals;

ByteVector Body(IMessage* pMessage)
{
    const ByteVector frame = FrameOf(pMessage);
    return ByteVector(frame.begin() + 4, frame.end());
}

uint32_t CorrelationOf(const ByteVector& body)
{
    return (uint32_t{body[5]} << 24) | (body[6] << 16) | (body[7] << 8) | body[8];
}

// Answers GetLogMaskRequest with mask 0x1E, as a service does.
void AnswerLogMask(CTestPeer::CConnection& c, const ByteVector& body)
{
    if (PeekMessageID(BufferOf(body).Get()) != GetLogMaskRequest)
        return;
    CArgumentList list;
    list.Pack(1, ARG_UINT32, 0x1Eu);
    CRefPtr<CArgumentListResponse> response;
    MakeArgumentListResponse(response, GetLogMaskResponse, CorrelationOf(body), &list);
    c.Send(FrameOf(response.Get()));
}

uint32_t AskLogMask(CClientObject* pClient, int timeoutMs = 10000)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
    CRefPtr<CByteBuffer> response;
    pClient->SendRequest(request.Get(), response, timeoutMs);
    CRefPtr<CArgumentListResponse> reader;
    MakeArgumentListResponse(reader, GetLogMaskResponse, GetLogMaskRequest, nullptr);
    reader->Deserialise(response.Get());
    uint32_t mask = 0;
    reader->GetArguments().Unpack(1, ARG_UINT32, &mask);
    return mask;
}

size_t OpenDescriptors()
{
    size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd"))
    {
        while (::readdir(dir))
            ++n;
        ::closedir(dir);
    }
    return n;
}

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CRecordingListener : public IClientListener
{
public:
    void OnMessage(CByteBuffer* pBuffer) override
    {
        std::lock_guard<std::mutex> g(mutex);
        messages.emplace_back(pBuffer->Data(), pBuffer->Data() + pBuffer->GetSize());
        threads.insert(std::this_thread::get_id());
    }
    void OnConnected() override { ++connects; }
    void OnDisconnected() override { ++disconnects; }
    size_t Count()
    {
        std::lock_guard<std::mutex> g(mutex);
        return messages.size();
    }

    std::mutex mutex;
    std::vector<ByteVector> messages;
    std::set<std::thread::id> threads;
    std::atomic<int> connects = 0;
    std::atomic<int> disconnects = 0;
};

class ConnectionTest : public testing::Test
{
protected:
    ConnectionTest() { MakeClientEndpoint(endpoint, &listener); }
    ~ConnectionTest() override
    {
        manager.DetachClient(endpoint.Get());
        endpoint->SetListener(nullptr);
    }
    bool Connect(CTestPeer& peer)
    {
        return manager.ConnectClientObject(endpoint.Get(), "127.0.0.1", peer.Port(),
                                           SERVICE_IDENTIFIER, true);
    }

    CConnectionManager manager;
    CRecordingListener listener;
    CRefPtr<CClientEndpoint> endpoint;
};

TEST_F(ConnectionTest, RegistersFirstThenMatchesResponsesToRequests)
{
    CTestPeer peer(CTestPeer::EHandshake::Correct, AnswerLogMask);
    ASSERT_TRUE(Connect(peer));
    EXPECT_TRUE(endpoint->IsConnected());
    EXPECT_EQ(listener.connects, 1);
    EXPECT_EQ(AskLogMask(endpoint.Get()), 0x1Eu);
    EXPECT_EQ(AskLogMask(endpoint.Get()), 0x1Eu);

    auto c = peer.Connection(0);
    ASSERT_TRUE(WaitUntil([&] { return c->FrameCount() == 3; }));
    EXPECT_EQ(Hex(c->FrameAt(0).data(), c->FrameAt(0).size()), "00 00 00 01 01 00 00 00 01");
    EXPECT_EQ(Hex(c->FrameAt(1).data(), 5), "00 00 00 0E 02");
    EXPECT_NE(CorrelationOf(c->FrameAt(1)), CorrelationOf(c->FrameAt(2)));
    EXPECT_EQ(listener.Count(), 0u); // responses never reach the listener
}

TEST_F(ConnectionTest, EventsArriveInOrderOnTheDispatchThread)
{
    CTestPeer peer;
    ASSERT_TRUE(Connect(peer));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 1; }));
    ByteVector burst;
    for (uint32_t i = 0; i < 500; ++i)
    {
        const ReceiverRecord record = MakeReceiverRecord(i, 1, u"R");
        CRefPtr<CReceiverListMessage> status;
        MakeReceiverListMessage(status, ReceiverStatusEvent, &record, 1);
        const ByteVector frame = FrameOf(status.Get());
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(peer.Connection(0)->Send(burst));
    ASSERT_TRUE(WaitUntil([&] { return listener.Count() == 500; }));
    std::lock_guard<std::mutex> g(listener.mutex);
    for (uint32_t i = 0; i < 500; ++i)
        EXPECT_EQ(listener.messages[i][12], static_cast<uint8_t>(i)) << i; // low byte of the id
    EXPECT_EQ(listener.threads.size(), 1u);
    EXPECT_EQ(listener.threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(ConnectionTest, MismatchedLateAndUncorrelatedResponses)
{
    std::mutex mutex;
    std::vector<ByteVector> requests;
    CTestPeer peer(CTestPeer::EHandshake::Correct,
                   [&](CTestPeer::CConnection& c, const ByteVector& body)
                   {
                       const uint32_t id = PeekMessageID(BufferOf(body).Get());
                       if (id == GetLogFileRequest) // right correlation value, wrong identifier
                       {
                           CRefPtr<CStringResponse> wrong;
                           MakeStringResponse(wrong, GetLogMaskResponse, CorrelationOf(body), u"x");
                           c.Send(FrameOf(wrong.Get()));
                       }
                       std::lock_guard<std::mutex> g(mutex);
                       requests.push_back(body);
                   });
    ASSERT_TRUE(Connect(peer));
    auto c = [&] { return peer.Connection(0); };

    CRefPtr<CEmptyRequest> logFile;
    MakeEmptyRequest(logFile, GetLogFileRequest, GetLogFileResponse);
    CRefPtr<CByteBuffer> response;
    endpoint->SendRequest(logFile.Get(), response, 200);
    EXPECT_FALSE(response);

    // No one answers this one in time; the answer that comes later is dropped.
    CRefPtr<CEmptyRequest> mask;
    MakeEmptyRequest(mask, GetLogMaskRequest, GetLogMaskResponse);
    endpoint->SendRequest(mask.Get(), response, 100);
    EXPECT_FALSE(response);
    CArgumentList list;
    list.Pack(1, ARG_UINT32, 7u);
    CRefPtr<CArgumentListResponse> late;
    MakeArgumentListResponse(late, GetLogMaskResponse, mask->GetCorrelationID(), &list);
    c()->Send(FrameOf(late.Get()));

    // A response with correlation value 0 is unsolicited: it is delivered like an event.
    CRefPtr<CEmptyResponse> uncorrelated;
    MakeEmptyResponse(uncorrelated, ClientClosingResponse, 0);
    c()->Send(FrameOf(uncorrelated.Get()));
    CRefPtr<CEmptyMessage> marker;
    MakeEmptyMessage(marker, LogUpdatedEvent);
    c()->Send(FrameOf(marker.Get()));
    ASSERT_TRUE(WaitUntil([&] { return listener.Count() == 2; }));
    {
        std::lock_guard<std::mutex> g(listener.mutex);
        EXPECT_EQ(listener.messages[0], Body(uncorrelated.Get()));
        EXPECT_EQ(listener.messages[1], Body(marker.Get()));
    }

    // No request, nothing sent; the next one-way message is the fourth frame.
    endpoint->SendRequest(nullptr, response, 100);
    CRefPtr<CEmptyMessage> clear;
    MakeEmptyMessage(clear, ClearLogMessage);
    endpoint->Send(clear.Get());
    ASSERT_TRUE(WaitUntil([&] { return c()->FrameCount() == 4; }));
    EXPECT_EQ(PeekMessageID(BufferOf(c()->FrameAt(3)).Get()), ClearLogMessage);
}

TEST_F(ConnectionTest, RequestWhileNotConnectedReturnsAtOnceUntouched)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
    CRefPtr<CByteBuffer> response = BufferOf({1, 2});
    const auto start = std::chrono::steady_clock::now();
    endpoint->SendRequest(request.Get(), response, 10000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(Hex(response.Get()), "01 02");
}

TEST_F(ConnectionTest, HandshakeFailuresAreFalseWithTheirTraceLine)
{
    const struct
    {
        CTestPeer::EHandshake handshake;
        const char* line;
    } cases[] = {
        {CTestPeer::EHandshake::Wrong,
         "CConnectionManager::ConnectClientObject: Handshake strings do not match."},
        {CTestPeer::EHandshake::CloseAtOnce, "CConnectionManager::ConnectClientObject: Client "
                                             "timed out waiting for server handshake string."},
    };
    for (const auto& c : cases)
    {
        CTestPeer peer(c.handshake);
        CTraceRecorder trace;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Connect(peer)) << c.line;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << c.line;
        EXPECT_TRUE(trace.Contains(c.line)) << c.line;
        EXPECT_FALSE(endpoint->IsConnected());
        EXPECT_EQ(manager.GetThreadCount(), 0);
    }
}

// Fifteen bytes and then silence: the handshake read waits out its full time-out.
TEST_F(ConnectionTest, PartialHandshakeTimesOut)
{
    CTestPeer peer(CTestPeer::EHandshake::Partial);
    CTraceRecorder trace;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connect(peer));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(HANDSHAKE_TIMEOUT_MS));
    EXPECT_TRUE(trace.Contains("CConnectionManager::ConnectClientObject: Client timed out waiting "
                               "for server handshake string."));
}

TEST_F(ConnectionTest, SocketBeyondSixtyOneStartsASecondThreadAndEmptyThreadsGo)
{
    CTestPeer peer;
    std::vector<CRefPtr<CRecordingClient>> clients;
    for (int i = 0; i < MAX_SOCKETS_PER_THREAD + 1; ++i)
    {
        clients.emplace_back(new CRecordingClient);
        ASSERT_TRUE(manager.ConnectClientObject(clients.back().Get(), "127.0.0.1", peer.Port(),
                                                SERVICE_IDENTIFIER, true));
        EXPECT_EQ(manager.GetThreadCount(), i < MAX_SOCKETS_PER_THREAD ? 1 : 2) << i;
    }
    CRefPtr<IMessagingSocket> socket;
    clients[0]->GetSocket(socket);
    EXPECT_FALSE(manager.AttachSocket(clients[0].Get(), socket.Get())); // already served
    socket.Reset();
    for (auto& client : clients)
        manager.DetachClient(client.Get());
    EXPECT_EQ(manager.GetThreadCount(), 0);
    for (auto& client : clients)
        EXPECT_EQ(client->disconnects, 1);
    ASSERT_TRUE(manager.ConnectClientObject(clients[0].Get(), "127.0.0.1", peer.Port(),
                                            SERVICE_IDENTIFIER, true));
    EXPECT_EQ(manager.GetThreadCount(), 1);
    manager.DetachClient(clients[0].Get());
}

// An idle connection must not keep its I/O thread busy: with write readiness reported for ever,
// the thread would spin through the whole window.
TEST_F(ConnectionTest, IdleConnectionCostsNoCpu)
{
    CTestPeer peer(CTestPeer::EHandshake::Correct, AnswerLogMask);
    ASSERT_TRUE(Connect(peer));
    EXPECT_EQ(AskLogMask(endpoint.Get()), 0x1Eu);
    const double before = CpuSeconds();
    CEvent never;
    CWaitHandle* handles[1] = {&never};
    WaitForHandles(handles, 1, 1000); // the observation window
    EXPECT_LT(CpuSeconds() - before, 0.1);
}

TEST_F(ConnectionTest, PeerSendingAHugeLengthLosesOnlyItsOwnConnection)
{
    CTestPeer peer(CTestPeer::EHandshake::Correct, AnswerLogMask);
    CRefPtr<CRecordingClient> other(new CRecordingClient);
    ASSERT_TRUE(manager.ConnectClientObject(other.Get(), "127.0.0.1", peer.Port(),
                                            SERVICE_IDENTIFIER, true));
    ASSERT_TRUE(Connect(peer));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 2; }));
    CTraceRecorder trace;
    peer.Connection(1)->Send(Bytes("7F FF FF FF 00 00"));
    ASSERT_TRUE(WaitUntil([&] { return listener.disconnects == 1; }));
    EXPECT_FALSE(endpoint->IsConnected());
    EXPECT_TRUE(trace.Contains("Exception (Error code = " + std::to_string(EMSGSIZE) +
                               ") : Message too long\n"));
    EXPECT_EQ(AskLogMask(other.Get()), 0x1Eu);
    EXPECT_EQ(other->disconnects, 0);
    manager.DetachClient(other.Get());
}

TEST_F(ConnectionTest, ServiceGoingAwayAndComingBack)
{
    auto peer = std::make_unique<CTestPeer>(CTestPeer::EHandshake::Correct, AnswerLogMask);
    ASSERT_TRUE(Connect(*peer));
    EXPECT_EQ(AskLogMask(endpoint.Get()), 0x1Eu);
    peer.reset(); // the service closes every connection
    ASSERT_TRUE(WaitUntil([&] { return listener.disconnects == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return manager.GetThreadCount() == 0; }));
    EXPECT_EQ(AskLogMask(endpoint.Get(), 100), 0u);

    peer = std::make_unique<CTestPeer>(CTestPeer::EHandshake::Correct, AnswerLogMask);
    ASSERT_TRUE(Connect(*peer));
    EXPECT_EQ(listener.connects, 2);
    EXPECT_EQ(AskLogMask(endpoint.Get()), 0x1Eu);
}

TEST_F(ConnectionTest, ConnectDetachCyclesLeaveNothingBehind)
{
    const size_t descriptors = OpenDescriptors();
    CTestPeer peer;
    for (int i = 0; i < 200; ++i)
    {
        ASSERT_TRUE(Connect(peer)) << i;
        manager.DetachClient(endpoint.Get());
    }
    peer.Shutdown();
    EXPECT_EQ(manager.GetThreadCount(), 0);
    EXPECT_EQ(listener.connects, 200);
    EXPECT_EQ(listener.disconnects, 200);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// A detach that the application makes is reported once. The socket's close must not leave a
// second detach queued behind a busy dispatch thread, where it would find and end the connection
// the client has made again by then.
TEST_F(ConnectionTest, ADetachQueuedBehindBusyDispatchLeavesTheNewConnectionAlone)
{
    class CBlockingListener : public IClientListener
    {
    public:
        void OnMessage(CByteBuffer*) override
        {
            ++delivered;
            while (!released)
                std::this_thread::yield();
        }
        void OnConnected() override {}
        void OnDisconnected() override {}
        std::atomic<int> delivered = 0;
        std::atomic<bool> released = false;
    } blocking;
    CTestPeer peer;
    CRefPtr<CClientEndpoint> busy;
    MakeClientEndpoint(busy, &blocking);
    ASSERT_TRUE(manager.ConnectClientObject(busy.Get(), "127.0.0.1", peer.Port(),
                                            SERVICE_IDENTIFIER, true));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 1; }));
    const ByteVector event = Frame(Bytes("00 00 00 0D 01"));
    ASSERT_TRUE(peer.Connection(0)->Send(event));
    ASSERT_TRUE(WaitUntil([&] { return blocking.delivered == 1; })); // the dispatch thread waits

    ASSERT_TRUE(Connect(peer));
    manager.DetachClient(endpoint.Get());
    ASSERT_TRUE(Connect(peer));
    blocking.released = true;
    ASSERT_TRUE(peer.Connection(0)->Send(event)); // queued behind anything the detach left
    ASSERT_TRUE(WaitUntil([&] { return blocking.delivered == 2; }));
    EXPECT_TRUE(endpoint->IsConnected());
    EXPECT_EQ(listener.connects, 2);
    EXPECT_EQ(listener.disconnects, 1);
    manager.DetachClient(busy.Get());
    busy->SetListener(nullptr);
}

// The client object outlives the manager here on purpose: the service must still see the close.
TEST(ConnectionManager, DestroyingTheManagerClosesEveryConnection)
{
    CTestPeer peer;
    CRefPtr<CRecordingClient> client(new CRecordingClient);
    {
        CConnectionManager manager;
        ASSERT_TRUE(manager.ConnectClientObject(client.Get(), "127.0.0.1", peer.Port(),
                                                SERVICE_IDENTIFIER, true));
        ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 1; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return peer.Connection(0)->closed.load(); }));
    EXPECT_FALSE(RefCountLockExists());
}
} // namespace
