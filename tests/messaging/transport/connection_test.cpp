// SPDX-License-Identifier: MIT
// Client objects connected through the connection manager to a test peer on loopback: handshake,
// registration, request/response matching, lost connections and thread pooling.

#include "connectionmanager.h"
#include "transporttest.h"

#include <gmock/gmock.h>

#include <chrono>
#include <future>

namespace
{
using namespace std::chrono_literals;

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
    CRefPtr<IMessage> response =
        new CArgumentListResponse(GetLogMaskResponse, CorrelationOf(body), &list);
    c.Send(FrameOf(response.Get()));
}

// Holds the dispatch thread inside a delivery until released, so that detaches queue up behind.
class CBusyDispatch : public IClientListener
{
public:
    explicit CBusyDispatch(CTestClient& owner, CTestPeer& peer) : m_manager(owner.manager)
    {
        MakeClientEndpoint(m_pClient, this);
        connected =
            owner.Connect(peer.Port(), m_pClient.Get()) &&
            WaitUntil([&] { return peer.ConnectionCount() >= 1; }) &&
            peer.Connection(peer.ConnectionCount() - 1)->Send(Frame(Bytes("00 00 00 0D 01"))) &&
            WaitUntil([&] { return m_bBusy.load(); });
    }
    ~CBusyDispatch()
    {
        Release();
        m_manager.DetachClient(m_pClient.Get());
        m_pClient->SetListener(nullptr);
    }
    void Release() { m_bReleased = true; }
    void OnMessage(CByteBuffer*) override
    {
        m_bBusy = true;
        while (!m_bReleased)
            std::this_thread::yield();
    }
    void OnConnected() override {}
    void OnDisconnected() override {}
    bool connected = false;

private:
    CConnectionManager& m_manager;
    CRefPtr<CClientEndpoint> m_pClient;
    std::atomic<bool> m_bBusy = false;
    std::atomic<bool> m_bReleased = false;
};

class ConnectionTest : public testing::Test, protected CTestClient
{
};

// Registration goes first, each response finds its request, and an idle connection costs no CPU.
TEST_F(ConnectionTest, RegistersFirstMatchesResponsesAndIdlesWithoutCpu)
{
    CTestPeer peer(CTestPeer::EHandshake::Correct, AnswerLogMask);
    ASSERT_TRUE(Connect(peer.Port()));
    EXPECT_EQ(AskLogMask(), 0x1Eu);
    EXPECT_EQ(AskLogMask(), 0x1Eu);
    CRefPtr<CByteBuffer> none;
    endpoint->SendRequest(nullptr, none, 10000); // refused at once, nothing on the wire
    EXPECT_FALSE(none);

    auto c = peer.Connection(0);
    ASSERT_TRUE(WaitUntil([&] { return c->FrameCount() == 3; }));
    EXPECT_EQ(Hex(c->FrameAt(0).data(), c->FrameAt(0).size()), "00 00 00 01 01 00 00 00 01");
    EXPECT_EQ(Hex(c->FrameAt(1).data(), 5), "00 00 00 0E 02");
    EXPECT_NE(CorrelationOf(c->FrameAt(1)), CorrelationOf(c->FrameAt(2)));
    EXPECT_EQ(listener.Count(), 0u); // responses never reach the listener

    // Idle now, the connection must not keep its I/O thread busy: with write readiness reported
    // for ever, the thread would spin through the whole window.
    const double before = CpuSeconds();
    CEvent never;
    CWaitHandle* handles[1] = {&never};
    WaitForHandles(handles, 1, 1000); // the observation window
    EXPECT_LT(CpuSeconds() - before, 0.1);
}

// The manager runs the client's code (Attach, with its AfterAttach) without its own lock: a client
// that waits there for another thread to use the manager is not stuck behind its own attach.
TEST_F(ConnectionTest, AttachRunsTheClientsCodeWithoutTheManagerLock)
{
    class CWaitingClient : public CRecordingClient
    {
    public:
        explicit CWaitingClient(CConnectionManager& manager) : m_manager(manager) {}
        void AfterAttach(bool bConnected) override
        {
            if (!bConnected || other.valid())
                return;
            other = std::async(std::launch::async, [this] { m_manager.GetThreadCount(); });
            bGotInWhileAttaching = other.wait_for(2s) == std::future_status::ready;
        }
        std::future<void> other;
        bool bGotInWhileAttaching = false;

    private:
        CConnectionManager& m_manager;
    };
    CTestPeer peer;
    CRefPtr<CWaitingClient> client(new CWaitingClient(manager));
    ASSERT_TRUE(Connect(peer.Port(), client.Get()));
    client->other.wait();
    EXPECT_TRUE(client->bGotInWhileAttaching);
    manager.DetachClient(client.Get());
}

// A wrong handshake or a close fails at once; one dripped a byte every 700 ms fails 10000 ms
// after the connect in all, however often a byte comes (a wait per byte would take 20 s here):
// the suite's one real 10-second wait.
TEST_F(ConnectionTest, HandshakeFailuresAreFalseWithTheirTraceLine)
{
    const char* timedOut = "Client timed out waiting for server handshake string.";
    const struct
    {
        CTestPeer::EHandshake handshake;
        std::string line;
        std::chrono::milliseconds atLeast, under;
    } cases[] = {
        {CTestPeer::EHandshake::Wrong, "Handshake strings do not match.", 0ms, 5000ms},
        {CTestPeer::EHandshake::CloseAtOnce, timedOut, 0ms, 5000ms},
        {CTestPeer::EHandshake::Drip, timedOut, 10000ms, 15000ms},
    };
    for (const auto& c : cases)
    {
        CTestPeer peer(c.handshake);
        CTraceRecorder trace;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Connect(peer.Port())) << c.line;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, c.atLeast) << c.line;
        EXPECT_LT(elapsed, c.under) << c.line;
        EXPECT_TRUE(trace.Contains("CConnectionManager::ConnectClientObject: " + c.line));
        EXPECT_FALSE(endpoint->IsConnected());
        EXPECT_EQ(manager.GetThreadCount(), 0);
    }
}

TEST_F(ConnectionTest, SocketBeyondSixtyOneStartsASecondThreadAndEmptyThreadsGo)
{
    CTestPeer peer(CTestPeer::EHandshake::Correct, AnswerLogMask);
    std::vector<CRefPtr<CRecordingClient>> clients;
    constexpr int perThread = 61; // a wait covers 64 handles, three of them the thread's own
    for (int i = 0; i < perThread + 1; ++i)
    {
        clients.emplace_back(new CRecordingClient);
        ASSERT_TRUE(Connect(peer.Port(), clients.back().Get()));
        EXPECT_EQ(manager.GetThreadCount(), i < perThread ? 1 : 2) << i;
    }
    // All are served alike: the full thread's 61 (a wait on all 64 handles) and the one beyond.
    for (size_t i = 0; i < clients.size(); ++i)
        EXPECT_EQ(AskLogMask(clients[i].Get()), 0x1Eu) << i;
    CRefPtr<IMessagingSocket> socket;
    clients[0]->GetSocket(socket);
    EXPECT_FALSE(manager.AttachSocket(clients[0].Get(), socket.Get())); // already served
    socket.Reset();
    for (auto& client : clients)
        manager.DetachClient(client.Get());
    EXPECT_EQ(manager.GetThreadCount(), 0);
    for (auto& client : clients)
        EXPECT_EQ(client->disconnects, 1);
    ASSERT_TRUE(Connect(peer.Port(), clients[0].Get()));
    EXPECT_EQ(manager.GetThreadCount(), 1);
    manager.DetachClient(clients[0].Get());
}

// A detach the application makes is reported once: the socket's close must not queue a second
// detach behind a busy dispatch thread, where it would end the client's next connection.
TEST_F(ConnectionTest, ADetachQueuedBehindBusyDispatchLeavesTheNewConnectionAlone)
{
    CTestPeer peer;
    CBusyDispatch busy(*this, peer); // the dispatch thread waits inside a delivery
    ASSERT_TRUE(busy.connected);
    ASSERT_TRUE(Connect(peer.Port()));
    manager.DetachClient(endpoint.Get());
    ASSERT_TRUE(Connect(peer.Port()));
    busy.Release();
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 3; }));
    ASSERT_TRUE(peer.Connection(2)->Send(Frame(Bytes("00 00 00 0D 01")))); // behind the detach
    ASSERT_TRUE(WaitUntil([&] { return listener.Count() == 1; }));
    EXPECT_TRUE(endpoint->IsConnected());
    EXPECT_EQ(listener.connects, 2);
    EXPECT_EQ(listener.disconnects, 1);
}

} // namespace

// A client whose socket its I/O thread has already closed keeps that thread until its own detach
// has run: another client's detach must not delete the thread under it.
TEST_F(ConnectionTest, AThreadOutlivesEveryClientThatCanReachIt)
{
    CTestPeer peer;
    CBusyDispatch busy(*this, peer); // connection 0
    ASSERT_TRUE(busy.connected);
    CRefPtr<CRecordingClient> other(new CRecordingClient);
    ASSERT_TRUE(Connect(peer.Port(), other.Get())); // connection 1
    ASSERT_TRUE(Connect(peer.Port()));              // connection 2
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 3; }));
    peer.Connection(0)->Shut();
    peer.Connection(1)->Shut();
    // The I/O thread has closed both; their detaches wait behind the busy dispatch thread.
    ASSERT_TRUE(WaitUntil([&] { return manager.GetSocketCount() == 1; }));
    manager.DetachClient(endpoint.Get());
    EXPECT_EQ(manager.GetThreadCount(), 1);
    other->Send(CRefPtr<IMessage>(new CEmptyMessage(LogUpdatedEvent)).Get()); // a live thread
    busy.Release();
    EXPECT_TRUE(WaitUntil([&] { return other->disconnects == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return manager.GetThreadCount() == 0; }));
}

// What waits for the dispatch thread: a connection whose messages reach its share (1 MiB) is
// read no more until half of it has been handled; in all at most 128 MiB wait, and a message over
// that removes its connection. A message costs its bytes and 128 more.
TEST(DispatchLimits, AConnectionAtItsShareIsPausedAndTheWholeIsBounded)
{
    CMessageDispatchThread dispatch(nullptr); // never started: everything stays queued
    std::vector<CRefPtr<CRecordingClient>> clients;
    std::vector<CRefPtr<CMessagingSocket>> sockets;
    for (int i = 0; i < 5; ++i)
    {
        clients.emplace_back(new CRecordingClient);
        sockets.emplace_back(new CMessagingSocket(nullptr));
    }
    const auto queue = [&](int client, size_t cost) -> std::string
    {
        CRefPtr<CByteBuffer> buffer;
        MakeByteBuffer(buffer, static_cast<uint32_t>(cost - 128));
        const size_t i = static_cast<size_t>(client);
        bool bRoom = false;
        if (const int error = ErrorOf(
                [&] {
                    bRoom = dispatch.QueueInbound(clients[i].Get(), buffer.Get(), sockets[i].Get());
                }))
            return error == CODE_NO_BUFFERS ? "refused" : "error " + std::to_string(error);
        EXPECT_EQ(sockets[i]->IsReadingPaused(), !bRoom) << "client " << client;
        return bRoom ? "read on" : "paused";
    };
    constexpr size_t share = 1024 * 1024;
    EXPECT_EQ(queue(0, share / 2), "read on");
    EXPECT_EQ(queue(0, share / 2 - 1), "read on"); // one byte under the share
    EXPECT_EQ(queue(1, share / 2), "read on");
    EXPECT_EQ(queue(1, share / 2), "paused"); // at it
    EXPECT_FALSE(sockets[0]->IsReadingPaused());
    // Reading goes on once half the share is free: not one byte before.
    dispatch.OnInboundDone(clients[1].Get(), share / 2 - 1);
    EXPECT_TRUE(sockets[1]->IsReadingPaused());
    dispatch.OnInboundDone(clients[1].Get(), 1);
    EXPECT_FALSE(sockets[1]->IsReadingPaused());
    EXPECT_EQ(dispatch.GetQueuedInboundBytes(clients[0].Get()), share - 1);

    const size_t all = 128 * 1024 * 1024;
    EXPECT_EQ(queue(2, all - dispatch.GetQueuedInboundBytes() - 129), "paused"); // a large one
    EXPECT_EQ(queue(3, 129), "read on"); // at the whole allowance
    EXPECT_EQ(dispatch.GetQueuedInboundBytes(), all);
    EXPECT_EQ(queue(4, 128), "refused"); // over it, though client 4 has nothing queued
    EXPECT_FALSE(sockets[4]->IsReadingPaused());
    dispatch.DropQueued();
    EXPECT_EQ(dispatch.GetQueuedInboundBytes(), 0u);
    EXPECT_FALSE(sockets[2]->IsReadingPaused());
    EXPECT_EQ(queue(4, 128), "read on");
}

// The sockets of one I/O thread take turns, so a peer that always has more never keeps the others
// waiting: each turn reads one byte of many (Windows signals readable again only after a read), and
// the three sockets are read in the first three turns, not one of them 1000 times first.
TEST(SocketIOThread, SocketsThatStayReadableTakeTurns)
{
    class CCountingSocket : public CMessagingSocket
    {
    public:
        CCountingSocket(CStreamSocket* pSocket, std::atomic<int>& turns)
            : CMessagingSocket(pSocket), m_turns(turns)
        {
        }
        void OnReadable() override
        {
            uint8_t byte = 0;
            ReceiveNow(static_cast<RawSocket>(GetSocketHandle()), &byte, 1);
            if (firstTurn < 0)
                firstTurn = m_turns.load();
            ++m_turns;
        }
        std::atomic<int> firstTurn = -1;

    private:
        std::atomic<int>& m_turns;
    };
    std::atomic<int> turns = 0;
    std::vector<std::unique_ptr<CLoopbackPair>> pairs;
    std::vector<CCountingSocket*> sockets;
    CSocketIOThread thread;
    for (int i = 0; i < 3; ++i)
    {
        pairs.push_back(std::make_unique<CLoopbackPair>(
            [&](CStreamSocket* p) { return sockets.emplace_back(new CCountingSocket(p, turns)); }));
        ASSERT_TRUE(pairs.back()->PeerSend(ByteVector(1000, 1)));
        ASSERT_TRUE(thread.AddSocket(sockets.back()));
    }
    thread.Start(); // all three readable from its first turn
    EXPECT_TRUE(WaitUntil([&] { return turns >= 3; }));
    thread.Stop();
    thread.Join();
    for (const auto* socket : sockets)
    {
        EXPECT_GE(socket->firstTurn, 0);
        EXPECT_LT(socket->firstTurn, 3);
    }
}

// A frame begun must be whole within the frame time-out: one that arrives in parts in time is
// delivered, one that stalls ends its connection at the deadline; one too long ends it at once.
TEST_F(ConnectionTest, AStalledOrAbsurdFrameEndsItsConnection)
{
    CTestPeer peer;
    CRefPtr<CMessagingSocket> socket;
    OpenMessagingSocket(socket, "127.0.0.1", peer.Port(), AF_INET, SOCK_STREAM, IPPROTO_TCP, true);
    ASSERT_TRUE(socket);
    uint8_t handshake[16];
    ASSERT_TRUE(socket->ReadFully(handshake, 16, 10000));
    socket->SetFrameTimeout(1000);
    ASSERT_TRUE(manager.AttachSocket(endpoint.Get(), socket.Get()));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 1; }));
    auto connection = peer.Connection(0);

    connection->Send(Bytes("00 00 00 05 00 00"));
    ASSERT_TRUE(WaitUntil([&] { return socket->GetFrameDeadline() != 0; })); // a part has come
    connection->Send(Bytes("00 0D 01"));
    ASSERT_TRUE(WaitUntil([&] { return listener.Count() == 1; }));

    CTraceRecorder trace;
    const auto start = std::chrono::steady_clock::now();
    connection->Send(Bytes("00 00 00 05 00 00")); // and no more
    ASSERT_TRUE(WaitUntil([&] { return listener.disconnects == 1; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_TRUE(trace.Contains("CSocketIOThread::Run(): A frame was begun and not finished in "
                               "time; the connection is removed."));

    // A frame longer than 16 MiB is a protocol error: its connection is removed at once, with
    // the exception's trace line, and the client hears of it.
    ASSERT_TRUE(Connect(peer.Port()));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 2; }));
    peer.Connection(1)->Send(Bytes("7F FF FF FF 00"));
    EXPECT_TRUE(WaitUntil([&] { return listener.disconnects == 2; }));
    const std::string line = "Exception (Error code = " + std::to_string(CODE_MESSAGE_TOO_LONG);
    EXPECT_THAT(trace.Lines(), testing::Contains(testing::StartsWith(line)));
}

// Requests from two threads are on the wire together and wait side by side; a one-way message goes
// out while both wait; a detach ends both waits at once (as a loss does: zelbinctl's tests).
TEST_F(ConnectionTest, RequestsWaitSideBySideUntilADetach)
{
    CTestPeer peer; // never answers
    ASSERT_TRUE(Connect(peer.Port()));
    ASSERT_TRUE(WaitUntil([&] { return peer.ConnectionCount() == 1; }));
    auto c = peer.Connection(0);
    std::atomic<int> iEnded = 0;
    const auto ask = [&]
    {
        AskLogMask(nullptr, 8000);
        ++iEnded;
    };
    std::thread first(ask);
    ASSERT_TRUE(WaitUntil([&] { return c->FrameCount() == 2; })); // registration, request
    std::thread second(ask);
    EXPECT_TRUE(WaitUntil([&] { return c->FrameCount() == 3; }));
    endpoint->Send(CRefPtr<IMessage>(new CEmptyMessage(ClearLogMessage)).Get());
    EXPECT_TRUE(WaitUntil([&] { return c->FrameCount() == 4; }));
    EXPECT_EQ(iEnded, 0); // all of it while both requests still wait
    EXPECT_EQ(Hex(c->FrameAt(3).data(), c->FrameAt(3).size()), "00 00 00 12 01");

    const auto start = std::chrono::steady_clock::now();
    manager.DetachClient(endpoint.Get());
    first.join();
    second.join();
    EXPECT_EQ(iEnded, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4000ms);
    EXPECT_EQ(listener.disconnects, 1);
}
