// SPDX-License-Identifier: MIT
// Faults and soak, bounded in time: the service killed mid-stream, restarted again and again,
// flooding two clients at once. Nothing that the protocol promises is lost, and nothing leaks.

#include "eventpump.h"
#include "serviceclient.h"
#include "standin.h"
#include "waithandle.h"

#include <gtest/gtest.h>

namespace
{
using namespace std::chrono_literals;

// A service killed in the middle of a log flood: the client notices, empties its receivers and
// takes the next service's receivers, mask and log file.
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
    service->Stop(SIGKILL);
    ASSERT_TRUE(events.Pump(client, [&] { return !events.connected; }));
    EXPECT_TRUE(events.receivers.empty());
    service = std::make_unique<CStandIn>(
        std::vector<std::string>{"--receiver", "2:B", "--mask", "0x08"}, dir / "t.log");
    ASSERT_TRUE(events.Pump(client, [&] { return events.connected && events.receivers.count(2); }));
    EXPECT_EQ(client.GetLogMask(), 0x08u);
    std::u16string path;
    EXPECT_TRUE(client.GetLogFilePath(path));
    EXPECT_EQ(std::string(path.begin(), path.end()), dir / "t.log");
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

} // namespace
