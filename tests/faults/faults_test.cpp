// SPDX-License-Identifier: MIT
// Faults and soak, bounded in time: the service killed mid-stream, restarted again and again,
// flooding two clients at once. Nothing that the protocol promises is lost, and nothing leaks.

#include "eventpump.h"
#include "serviceclient.h"
#include "standin.h"
#include "waithandle.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <set>

namespace
{
using namespace std::chrono_literals;

size_t CountEntries(const char* dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir))
    {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// Events dispatched on the test's thread, as the window does.
class CEvents : public IServiceClientEvents
{
public:
    bool OnMessagesPending() override
    {
        pending.Set();
        return true;
    }
    void OnReceiverStatus(uint32_t id, uint32_t state, const std::u16string&) override
    {
        if (state == 2)
            receivers.erase(id);
        else
            receivers.insert(id);
    }
    void OnLogUpdated() override { ++logEvents; }
    void OnConnected() override
    {
        connected = true;
        ++connects;
    }
    void OnDisconnected() override
    {
        connected = false;
        receivers.clear();
    }
    bool Pump(CServiceClient& client, const std::function<bool()>& done,
              std::chrono::milliseconds deadline = 10s)
    {
        return PumpUntil(client, pending, done, deadline);
    }
    CEvent pending;
    std::set<uint32_t> receivers;
    int logEvents = 0;
    int connects = 0;
    bool connected = false;
};

TEST(Faults, ServiceKilledWhileFloodingIsFollowedAndRejoined)
{
    CTempDir dir;
    auto service =
        std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "1:A"}, dir / "s.log");
    CEvents events; // outlives the client that reports to it
    CServiceClient client;
    client.SetEventSink(&events);
    events.connected = client.IsConnected();
    ASSERT_TRUE(events.connected);
    service->Control("log 5000 5");
    ASSERT_TRUE(events.Pump(client, [&] { return events.logEvents > 10; }));
    service->Stop(SIGKILL); // in the middle of the stream
    ASSERT_TRUE(events.Pump(client, [&] { return !events.connected; }));
    EXPECT_TRUE(events.receivers.empty());
    service =
        std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "2:B"}, dir / "s.log");
    ASSERT_TRUE(events.Pump(client, [&] { return events.connected && events.receivers.count(2); }));
    EXPECT_EQ(client.GetLogMask(), 0x1Eu);
}

// Twenty service restarts (ZELBIN_SOAK_ROUNDS for more): the client reconnects every time
// and keeps no thread or descriptor of a connection that is gone.
TEST(Faults, RestartsLeaveNothingBehind)
{
    CTempDir dir;
    const char* env = std::getenv("ZELBIN_SOAK_ROUNDS");
    const int rounds = env ? std::atoi(env) : 20;
    CEvents events; // outlives the client that reports to it
    CServiceClient client;
    client.SetEventSink(&events);
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    for (int i = 0; i < rounds; ++i)
    {
        CStandIn service({"--announce-interval", "0"}, dir / "s.log");
        ASSERT_TRUE(events.Pump(client, [&] { return events.connected; })) << "restart " << i;
        service.Stop(i % 2 ? SIGKILL : SIGTERM);
        ASSERT_TRUE(events.Pump(client, [&] { return !events.connected; })) << "restart " << i;
    }
    EXPECT_EQ(events.connects, rounds);
    // The last loss is still being handled (a look-up of up to 2 s, then the I/O thread goes);
    // then the client is as it was before the first restart: waiting for the service.
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/task") <= threads; }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/fd") <= descriptors; }, 10s));
}

TEST(Faults, TwoClientsUnderAFloodSeeEveryReceiverChange)
{
    CStandIn service;
    CEvents a, b; // the sinks outlive the clients that report to them
    CServiceClient first;
    CServiceClient second;
    first.SetEventSink(&a);
    second.SetEventSink(&b);
    service.Control("log 3000 2");
    for (int i = 0; i < 200; ++i)
        service.Control("appear " + std::to_string(1000 + i) + " R");
    for (int i = 0; i < 200; i += 2)
        service.Control("go " + std::to_string(1000 + i));
    std::set<uint32_t> expected;
    for (int i = 1; i < 200; i += 2)
        expected.insert(1000 + static_cast<uint32_t>(i));
    ASSERT_TRUE(a.Pump(first, [&] { return a.receivers == expected; }));
    ASSERT_TRUE(b.Pump(second, [&] { return b.receivers == expected; }));
    EXPECT_GT(a.logEvents, 0);
    EXPECT_GT(b.logEvents, 0);
}

} // namespace
