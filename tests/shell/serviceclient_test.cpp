// SPDX-License-Identifier: MIT
// The service client against the real stand-in process (and against test peers that misbehave),
// in a private network namespace: what a user notices when it breaks.

#include "connectionmanager.h"
#include "eventpump.h"
#include "fakeanswerer.h"
#include "requestworker.h"
#include "serviceclient.h"
#include "standin.h"
#include "testpeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

static std::atomic<size_t> g_iRefusedSize = 0; // while not 0, no memory for a block of this size

void* operator new(std::size_t iSize, const std::nothrow_t&) noexcept
{
    if (iSize == g_iRefusedSize)
        return nullptr;
    try
    {
        return ::operator new(iSize);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ServiceClient, AbsentServiceThenItsAnnouncementConnects)
{
    {
        // With no memory for the connection manager: unconnected, and it closes cleanly.
        g_iRefusedSize = sizeof(CConnectionManager);
        CServiceClient none;
        g_iRefusedSize = 0;
        EXPECT_FALSE(none.IsConnected());
    }
    CEvents events;
    const auto start = Clock::now();
    CServiceClient client;
    EXPECT_LT(Clock::now() - start, 2500ms);
    EXPECT_FALSE(client.IsConnected());
    client.SetEventSink(&events);
    EXPECT_EQ(client.GetLogMask(), 0u); // not connected: at once, no answer

    // The receivers it then reports, in order, are in the window's start-up test.
    CStandIn service;
    const auto started = Clock::now();
    ASSERT_TRUE(events.Pump(
        client, [&] { return events.Saw("connected"); }, 5s));
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_EQ(client.GetLogMask(), 0x1Eu);
}

// A stale answer with a port that refuses connections: the client goes on waiting and takes the
// real service's announcement; with both answering, it tries them in turn.
TEST(ServiceClient, ARefusingAnswerDoesNotKeepTheClientFromTheRealService)
{
    CLookupResponder stale(RefusingPort());
    {
        CEvents events; // outlives the client that reports to it
        CServiceClient client;
        EXPECT_FALSE(client.IsConnected());
        CStandIn service; // announces itself as it starts
        client.SetEventSink(&events);
        EXPECT_TRUE(events.Pump(client, [&] { return events.Saw("connected"); }));
    }
    CTestPeer service; // it answers 300 ms after the stale answer: still in the look-up's time
    const ByteVector reply = LookupReply(service.Port());
    CLookupResponder late(
        [&](int) { return std::this_thread::sleep_for(300ms), std::vector<ByteVector>{reply}; });
    CServiceClient client;
    client.SetRequestTimeout(300); // the peer never answers the goodbye either
    EXPECT_TRUE(client.IsConnected());
}

// A service that connects but never answers: requests give nothing after their time-out (10000 ms;
// 300 here), the goodbye in the teardown waits out its own, and no event reaches the sink after.
TEST(ServiceClient, UnansweredRequestsTimeOut)
{
    CTestPeer peer; // never answers
    CLookupResponder answerer(peer.Port());
    CEvents events;
    auto client = std::make_unique<CServiceClient>();
    EXPECT_EQ(client->GetRequestTimeout(), 10000);
    client->SetRequestTimeout(300);
    client->SetEventSink(&events);
    ASSERT_TRUE(events.Pump(*client, [&] { return client->IsConnected(); }));

    auto start = Clock::now();
    EXPECT_EQ(client->GetLogMask(), 0u);
    EXPECT_GE(Clock::now() - start, 300ms);
    std::u16string path = u"unchanged";
    EXPECT_FALSE(client->GetLogFilePath(path));
    EXPECT_EQ(path, u"unchanged");

    const size_t seen = events.log.size();
    const int pendings = events.pendings;
    start = Clock::now();
    client.reset();
    EXPECT_GE(Clock::now() - start, 300ms); // the goodbye waited for its answer
    EXPECT_LT(Clock::now() - start, 5000ms);
    EXPECT_EQ(events.pendings, pendings);
    EXPECT_EQ(events.log.size(), seen);
    auto c = peer.Connection(0);
    ASSERT_TRUE(WaitUntil([&] { return c->FrameCount() >= 4; })); // registration, 14, 10, goodbye 6
    EXPECT_EQ(PeekMessageID(BufferOf(c->FrameAt(3)).Get()), ClientClosingRequest);
}

// A job that throws ends the request worker with a trace line, as a stop would, and never the
// process: later jobs are dropped, and its owner stops it as usual.
TEST(RequestWorker, AJobThatThrowsEndsTheWorkerNotTheProcess)
{
    CTraceRecorder trace;
    CRequestWorker worker;
    std::atomic<int> ran = 0;
    worker.Post([&] { ++ran; });
    worker.Post([] { throw std::runtime_error("lost"); });
    worker.Post([&] { ++ran; });
    ASSERT_TRUE(WaitUntil([&] { return !trace.Lines().empty(); }));
    EXPECT_EQ(trace.Lines().back(),
              "CRequestWorker::Run: An exception escaped a job; the worker ends.");
    worker.Post([&] { ++ran; });
    worker.Stop();
    EXPECT_EQ(ran, 1);
}
} // namespace
