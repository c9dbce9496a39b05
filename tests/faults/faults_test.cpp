// SPDX-License-Identifier: MIT
// Faults and soak, bounded in time: the service killed mid-stream and restarted again and again.
// Nothing that the protocol promises is lost, and nothing leaks.

#include "eventpump.h"
#include "serviceclient.h"
#include "standin.h"

#include <gtest/gtest.h>

namespace
{
using namespace std::chrono_literals;

// A service killed mid log flood, then twenty restarts (ZELBIN_SOAK_ROUNDS for more), each stopped
// by a signal or killed: the client notices every loss, empties its receivers, takes each next
// service's receivers, mask and log file, and keeps no thread or descriptor of a gone connection.
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
        const uint32_t iId = static_cast<uint32_t>(i) + 1, iMask = i % 2 ? 0x08 : 0x1E;
        const std::string log = dir / (std::to_string(iId) + ".log");
        CStandIn service({"--announce-interval", "0", "--receiver", std::to_string(iId) + ":R",
                          "--mask", std::to_string(iMask)},
                         log);
        ASSERT_TRUE(
            events.Pump(client, [&] { return events.connected && events.receivers.count(iId); }))
            << "restart " << i;
        EXPECT_EQ(events.receivers.size(), 1u) << "restart " << i;
        EXPECT_EQ(client.GetLogMask(), iMask) << "restart " << i;
        std::u16string path;
        EXPECT_TRUE(client.GetLogFilePath(path));
        EXPECT_EQ(std::string(path.begin(), path.end()), log);
        if (i == 0)
        {
            service.Control("log 5000 5");
            ASSERT_TRUE(events.Pump(client, [&] { return events.logEvents > 10; }));
        }
        service.Stop(i % 2 ? SIGTERM : SIGKILL);
        ASSERT_TRUE(events.Pump(client, [&] { return !events.connected; })) << "restart " << i;
        EXPECT_TRUE(events.receivers.empty()) << "restart " << i;
    }
    EXPECT_EQ(events.connects, rounds);
    // The last loss is still being handled (a look-up of up to 2 s, then the I/O thread goes);
    // then the client is as it was before the first restart: waiting for the service.
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/task") <= threads; }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/fd") <= descriptors; }, 10s));
}
} // namespace
