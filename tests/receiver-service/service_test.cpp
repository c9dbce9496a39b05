// SPDX-License-Identifier: MIT
// The stand-in receiver service as a real process in a private network namespace, checked through
// the messaging library and raw sockets: the pace of log notices, clients that never register or
// send bad input, storms, and the two programs' switches. What a client sees: zelbinctl's tests.

#include "daemon.h"
#include "recordinglistener.h"
#include "servicelocator.h"
#include "simulatedreceivers.h"
#include "standin.h"
#include "testpeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace
{
using namespace std::chrono_literals;

const ByteVector REGISTRATION = Frame(Bytes("00 00 00 01 01 00 00 00 01"));
const ByteVector ASK_MASK = Frame(Bytes("00 00 00 0E 02 00 00 00 07")); // GetLogMaskRequest

// A client that registers and then sends GetLogMask requests as fast as the service takes them,
// never reading an answer; when the service drops it, it connects again, until it is stopped.
class CFlooder
{
public:
    explicit CFlooder(uint16_t port) : m_thread([this, port] { Run(port); }) {}
    ~CFlooder() { Stop(); }
    void Stop()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    size_t BytesSent() const { return m_iSent; }
    int Connections() const { return m_iConnections; }

private:
    void Run(uint16_t port)
    {
        ByteVector batch;
        for (int i = 0; i < 4096; ++i)
            batch.insert(batch.end(), ASK_MASK.begin(), ASK_MASK.end());
        while (!m_bStop)
        {
            const RawSocket fd = ConnectRaw(port);
            if (fd == NO_RAW_SOCKET)
                continue;
            ++m_iConnections;
            bool bOpen = WriteAll(fd, REGISTRATION.data(), REGISTRATION.size());
            for (size_t at = 0; bOpen && !m_bStop;)
            {
                const int r = SendNow(fd, batch.data() + at, batch.size() - at);
                bOpen = r >= 0; // the service let this connection go
                at = (at + static_cast<size_t>(std::max(r, 0))) % batch.size();
                m_iSent += static_cast<size_t>(std::max(r, 0));
                if (r == 0)
                    WaitWritable(fd, 20);
            }
            CloseRaw(fd);
        }
    }

    std::atomic<bool> m_bStop{false};
    std::atomic<size_t> m_iSent{0};
    std::atomic<int> m_iConnections{0};
    std::thread m_thread;
};

// How long a stop may take: a second, and more in the sanitizer builds, which run several times
// slower; ThreadSanitizer also sleeps a second in a process's exit while another thread still
// runs (the stand-in's console thread waits on its input: its default atexit_sleep_ms).
#if defined(__SANITIZE_THREAD__)
constexpr double STOP_BOUND_MS = 5000;
#elif defined(__SANITIZE_ADDRESS__)
constexpr double STOP_BOUND_MS = 3000;
#else
constexpr double STOP_BOUND_MS = 1000;
#endif

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// A flood writes its lines at the rate asked, not faster or slower (by a wide margin), and tells of
// its burst about fifty times a second: not once a line, not only at its end, nor after it.
TEST(StandIn, LogUpdatesOfABurstArePaced)
{
    CStandIn service;
    CTestClient client;
    ASSERT_TRUE(client.Connect(service.Port()));
    const size_t before = client.listener.CountOf(LogUpdatedEvent);
    const auto start = std::chrono::steady_clock::now();
    service.Control("log 4000 1");
    ASSERT_TRUE(WaitUntil([&] { return service.LogContains("Flood line 4000 of 4000"); }));
    const size_t events = client.listener.CountOf(LogUpdatedEvent) - before;
    const double elapsedMs = MillisecondsSince(start);
    EXPECT_GE(elapsedMs, 999.0); // the last line is due 999.75 ms after the first
    EXPECT_LT(elapsedMs, 4000.0);
    // One announcement, then at least 20 ms before the next; at least one in 200 ms.
    EXPECT_LE(events, static_cast<size_t>(elapsedMs / 20 + 2)) << elapsedMs << " ms";
    EXPECT_GE(events, 5u) << elapsedMs << " ms";
    // After the burst they stop: those already on their way arrive (a slow machine may still
    // have several in flight), then none comes for half a second.
    size_t after = client.listener.CountOf(LogUpdatedEvent);
    const auto more = [&] { return client.listener.CountOf(LogUpdatedEvent) > after; };
    for (int i = 0; i < 10 && WaitUntil(more, 500ms); ++i)
        after = client.listener.CountOf(LogUpdatedEvent);
    EXPECT_FALSE(WaitUntil(more, 500ms));
}

// The service announces its port on the look-up group at start, then at its interval, neither more
// nor less often (by a wide margin); with 0, only at start. Between, it takes (nearly) no CPU.
TEST(StandIn, AnnouncesAsItStartsAndAtItsInterval)
{
    CMulticastSocket group(SERVICE_LOCATOR_GROUP, SERVICE_LOCATOR_PORT, SERVICE_LOCATOR_INTERFACE,
                           0);
    group.CreateReadNetworkEvent();
    const struct
    {
        const char* interval;
        int least, most; // in a second after the start
    } cases[] = {{"0", 1, 1}, {"100", 6, 15}};
    for (const auto& c : cases)
    {
        CStandIn service({"--announce-interval", c.interval});
#if !defined(_WIN32)
        const double cpuBefore = CpuMillisecondsOf(service.Process().Pid());
#endif
        const auto end = std::chrono::steady_clock::now() + 1s;
        CWaitHandle* handles[1] = {group.GetNetworkEvent()};
        int announcements = 0;
        for (double left; (left = -MillisecondsSince(end)) > 0;)
        {
            uint8_t datagram[64];
            if (WaitForHandles(handles, 1, static_cast<int>(left) + 1) == 0 &&
                (group.GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ))
                announcements += ParseLookupReply(datagram, group.Receive(datagram, 64),
                                                  SERVICE_IDENTIFIER) == service.Port();
        }
        EXPECT_GE(announcements, c.least) << c.interval;
        EXPECT_LE(announcements, c.most) << c.interval;
#if !defined(_WIN32)
        EXPECT_LT(CpuMillisecondsOf(service.Process().Pid()) - cpuBefore, 100.0) << c.interval;
#endif
    }
}

// A client that took the handshake and never registers gets neither events nor answers, and is
// closed at the registration time-out; the service logs both.
TEST(StandIn, AnUnregisteredClientGetsNothingAndIsClosedInTime)
{
    CStandIn service({"--receiver", "1:A", "--registration-timeout", "1000"});
    const auto start = std::chrono::steady_clock::now();
    const RawSocket fd = ConnectRaw(service.Port());
    ASSERT_NE(fd, NO_RAW_SOCKET);
    ASSERT_TRUE(WriteAll(fd, ASK_MASK.data(), ASK_MASK.size()));
    EXPECT_TRUE(service.LogContains("Client 1: message 14 before registration; ignored"));
    // An event goes to every registered client: once the registered one has it, the
    // unregistered one, listed first, would have had it too.
    CTestClient registered;
    ASSERT_TRUE(registered.Connect(service.Port()));
    service.Control("appear 2 B");
    ASSERT_TRUE(WaitUntil([&] { return registered.listener.HasReceiver(2); }));
    // Nothing came, answer or event: no byte to read, whether or not the time-out closed it.
    uint8_t byte = 0;
    EXPECT_LE(ReceiveNow(fd, &byte, 1, true), 0);
    // Then the service closes it.
    EXPECT_TRUE(WaitUntil([&] { return WaitReadable(fd, 0) && ReceiveNow(fd, &byte, 1) <= 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_TRUE(service.LogContains("Client 1 did not register within 1000 ms; closed"));
    CloseRaw(fd);
}

// Each bad input closes or ignores its own client only; the other client is served throughout,
// and complaints about one client are rate-limited, not one per frame.
TEST(StandIn, BadInputAffectsOnlyItsOwnClient)
{
    CStandIn service;
    CTestClient good;
    ASSERT_TRUE(good.Connect(service.Port()));
    // Two thousand complaints where at most five a second may be logged. Under Wine each message
    // costs the service about half a millisecond (every event set and wait is a round trip to the
    // Wine server), so a larger flood would outlast the good client's 10-second request.
    ByteVector flood;
    for (int i = 0; i < 2000; ++i)
        flood.insert(flood.end(), {0, 0, 0, 5, 0, 0, 0, 0x63, 1});
    const struct
    {
        const char* name;
        ByteVector bytes;
        std::string logged;
    } cases[] = {
        {"absurd length", Bytes("7F FF FF FF 00"),
         "Exception (Error code = " + std::to_string(CODE_MESSAGE_TOO_LONG) + ")"},
        {"truncated request", Frame(Bytes("00 00 00 0E 02 00")),
         "message 14 does not read as its class"},
        {"unknown identifiers", flood, "unknown message identifier 99"},
        {"unreadable mask", Frame(Bytes("00 00 00 0C 01 00 00")),
         "message 12 does not read as its class"},
        {"vanishes mid-frame", Bytes("00 00 00 10 01 02"), "disconnected"},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& c : cases)
    {
        const RawSocket fd = ConnectRaw(service.Port());
        ASSERT_NE(fd, NO_RAW_SOCKET);
        ByteVector bytes = REGISTRATION;
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        ASSERT_TRUE(WriteAll(fd, bytes.data(), bytes.size()));
        EXPECT_TRUE(service.LogContains(c.logged)) << c.name;
        CloseRaw(fd);
        EXPECT_EQ(good.AskLogMask(), 0x1Eu) << c.name;
    }
    EXPECT_LE(CountOf(service.Log(), "unknown message identifier 99"),
              5u * static_cast<size_t>(MillisecondsSince(start) / 1000 + 2));
    EXPECT_EQ(good.listener.disconnects, 0);
}

// A change reads, writes and reports a receiver in one step: a rename that meets a state change
// takes its turn after it, so the events leave in the order in which the changes were made and
// the last one a client gets is what the receiver is.
TEST(SimulatedReceivers, ChangesThatMeetAreReportedInTheOrderTheyWereMade)
{
    CTempDir dir;
    CServiceLog log(dir / "service.log", 0x1E);
    std::vector<std::pair<uint32_t, std::u16string>> events; // under the receivers' lock
    std::atomic<bool> reporting = false;
    std::atomic<bool> renamed = false;
    const auto report = [&](IMessage* pMessage)
    {
        // The first report gives the rename a while to overtake it.
        if (!reporting.exchange(true))
            WaitUntil([&] { return renamed.load(); }, 300ms);
        const ReceiverRecord* p = nullptr;
        static_cast<CReceiverListMessage*>(pMessage)->GetRecords(&p);
        events.emplace_back(p->iState, p->szName);
    };
    CSimulatedReceivers receivers({{7, 1, u"Room"}}, log, report);
    std::thread state([&] { EXPECT_TRUE(receivers.SetState(7, 3)); });
    ASSERT_TRUE(WaitUntil([&] { return reporting.load(); }));
    EXPECT_TRUE(receivers.Rename(7, u"Lab"));
    renamed = true;
    state.join();
    EXPECT_EQ(events, (decltype(events){{3, u"Room"}, {3, u"Lab"}}));
    EXPECT_EQ(receivers.Describe(), "receiver 7\t3\tLab\n");
    EXPECT_FALSE(receivers.Rename(8, u"None"));
}

// A client that sends without ever reading costs the others nothing: while it floods (and comes
// back each time the service drops it for unread answers), another client registers at once and its
// round trips stay short; each dropped connection is reported once, not once an answer. A stop
// signal meanwhile ends the service within a second, its goodbye the last line of its log.
TEST(StandIn, AClientThatNeverReadsDelaysNeitherOthersNorTheStop)
{
    CStandIn service;
    CFlooder flooder(service.Port());
    // Past what the sockets' buffers hold: the service has a backlog of this client's requests.
    ASSERT_TRUE(WaitUntil([&] { return flooder.BytesSent() > (4u << 20); }, 60s));
    std::vector<double> trips;
    auto start = std::chrono::steady_clock::now();
    {
        CTestClient good;
        ASSERT_TRUE(good.Connect(service.Port()));
        for (int i = 0; i < 21; ++i, start = std::chrono::steady_clock::now())
        {
            EXPECT_EQ(good.AskLogMask(), 0x1Eu); // the first one waits for the registration too
            trips.push_back(MillisecondsSince(start));
        }
    }
    // A round trip takes about a millisecond: the bound only shows that none waits for the flood.
    std::sort(trips.begin(), trips.end());
    EXPECT_LT(trips[trips.size() / 2], 100.0);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(service.Stop(), 0);
    EXPECT_LT(MillisecondsSince(start), STOP_BOUND_MS);
    flooder.Stop();
    const std::string log = service.Log();
    EXPECT_TRUE(log.ends_with(" VERBOSE VostraHardwareService stopped\r\n"));
    EXPECT_LE(CountOf(log, "Exception"), 2u * static_cast<size_t>(flooder.Connections()));
    EXPECT_EQ(CountOf(log, "did not register"), 0u);
}

// The log is bounded, only the service writes its lines: a client's control characters are escaped,
// a text cut after 2000 bytes with a mark; at most 16 floods at once, each 100 000 lines/s for 1 h.
TEST(StandIn, TheLogIsBoundedAndNoClientForgesALine)
{
    CStandIn service({"--receiver", "7:Room"});
    CTestClient client;
    ASSERT_TRUE(client.Connect(service.Port()));
    const auto send = [&](const std::u16string& text)
    {
        CArgumentList arguments;
        arguments.Pack(2, ARG_UINT32, 7u, ARG_WSTRING, text.c_str());
        CRefPtr<CArgumentListMessage> command;
        MakeArgumentListMessage(command, ReceiverCommand, &arguments);
        client.endpoint->Send(command.Get());
    };
    const std::string forged = "2024-01-01 00:00:00.000 VERBOSE Client 1 registered";
    const struct
    {
        std::u16string text;
        std::string logged;
    } cases[] = {
        {u"0,0\r\n" + std::u16string(forged.begin(), forged.end()), "0,0\\x0D\\x0A" + forged},
        {u"1\t\x1B[2J\x7F\u0085\u2028\u2029\u20AC\u0905",
         "1\\x09\\x1B[2J\\x7F\\u0085\\u2028\\u2029\xE2\x82\xAC\xE0\xA4\x85"},
        // At the limit a line is whole; one byte over it, it is cut.
        {std::u16string(1985, u'0'), std::string(1985, '0')},
        {std::u16string(1986, u'1'), std::string(1985, '1') + " [cut at 2000 of 2001 bytes]"},
        {std::u16string(60000, u'2'), std::string(1985, '2') + " [cut at 2000 of 60015 bytes]"},
    };
    for (const auto& c : cases)
    {
        send(c.text);
        EXPECT_TRUE(service.LogContains(" RAW To receiver 7: " + c.logged + "\r\n"));
    }
    std::istringstream lines(service.Log());
    for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.rfind(forged, 0), 0u) << "a forged line";
    // Twenty long commands write some 80 kilobytes (two cut lines each, beside the lines of the
    // polls for their count), not the 1.2 MB they hold even as one byte a character.
    const size_t before = service.Log().size();
    for (int i = 0; i < 20; ++i)
        send(std::u16string(60000, u'3'));
    EXPECT_TRUE(WaitUntil(
        [&] { return service.Control("list").find("commands received 25") != std::string::npos; },
        30s));
    EXPECT_LT(service.Log().size() - before, 200000u);

    const std::string usage =
        "usage: log N T (N from 1 to 100000 lines a second, T from 1 to 3600 seconds)\n";
    for (const char* refused : {"log 100001 1", "log 1 3601", "log 0 1"})
        EXPECT_EQ(service.Control(refused), usage) << refused;
    for (int i = 1; i <= 15; ++i)
        EXPECT_EQ(service.Control("log 1 60"), "ok\n") << i;
    EXPECT_EQ(service.Control("log 100000 3600"), "ok\n"); // the sixteenth, and last: it floods
    EXPECT_EQ(service.Control("log 1 60"),
              "16 log floods run already; nothing started (try again when one has ended)\n");
    EXPECT_EQ(service.Stop(), 0);
}

// Clients that connect, register and hang up at once, from four threads: a finished connection's
// I/O thread stays while a client can still reach it. Rounds per thread: ZELBIN_SOAK_ROUNDS (500).
TEST(StandIn, RegisterAndCloseStormLeavesTheServiceServing)
{
    CStandIn service({"--receiver", "1:A"});
    const char* env = std::getenv("ZELBIN_SOAK_ROUNDS");
    const int rounds = env ? std::atoi(env) : 500;
    std::atomic<int> failures = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&]
            {
                for (int i = 0; i < rounds; ++i)
                {
                    const RawSocket fd = ConnectRaw(service.Port());
                    if (fd == NO_RAW_SOCKET ||
                        !WriteAll(fd, REGISTRATION.data(), REGISTRATION.size()))
                        ++failures;
                    CloseRaw(fd);
                }
            });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
    {
        CTestClient client;
        ASSERT_TRUE(client.Connect(service.Port()));
        EXPECT_EQ(client.AskLogMask(), 0x1Eu);
    }
    EXPECT_TRUE(WaitUntil(
        [&] { return service.Control("list").find("\n0 client(s)") != std::string::npos; }));
    EXPECT_EQ(service.Stop(), 0);
}

#if defined(_WIN32)
// Starts or stops an installed service and waits, 10 s at most, until it runs or has stopped.
bool ControlInstalledService(const std::string& name, bool bStart)
{
    const SC_HANDLE hManager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const std::wstring wide = std::filesystem::path(name).wstring();
    const SC_HANDLE hService =
        hManager ? ::OpenServiceW(hManager, wide.c_str(),
                                  SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS)
                 : nullptr;
    SERVICE_STATUS status{};
    const bool bAsked =
        hService && (bStart ? ::StartServiceW(hService, 0, nullptr)
                            : ::ControlService(hService, SERVICE_CONTROL_STOP, &status));
    const DWORD iWanted = bStart ? SERVICE_RUNNING : SERVICE_STOPPED;
    const bool bReached = bAsked && WaitUntil(
                                        [&] {
                                            return ::QueryServiceStatus(hService, &status) &&
                                                   status.dwCurrentState == iWanted;
                                        },
                                        10s);
    if (hService)
        ::CloseServiceHandle(hService);
    if (hManager)
        ::CloseServiceHandle(hManager);
    return bReached;
}
#endif

class ServiceProgramsTest : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        SetEnvironment(RUNTIME_VARIABLE, runtime.Path());
#if defined(__linux__)
        // A daemon becomes this process's child, and its zombie once it ends, as under a session
        // manager that reaps late: a stop must not wait for the reaping.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    }
    CTempDir runtime;
    CTempDir units;
};

TEST_P(ServiceProgramsTest, InstallUninstallStartAndStop)
{
    const std::string name = GetParam();
    const std::string program = ProgramPath(name + ".exe");
    std::unique_ptr<CStandIn> hardware;
    if (name == "VostraSoftwareService")
        hardware = std::make_unique<CStandIn>();
    // The hardware service answers look-ups; the software one registers with the hardware one.
    int iClients = 0;
    const auto serves = [&]
    {
        if (!hardware)
            return FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 2000) != 0;
        return hardware->LogContains("Client " + std::to_string(++iClients) + " registered");
    };
    std::string out;
#if defined(_WIN32)
    // Installed with the control manager, which starts and stops it; a second removal finds none.
    EXPECT_EQ(RunProgram({program, "-i"}, &out, 30s, true), 0) << out;
    EXPECT_EQ(out, "installed " + name + "\n");
    EXPECT_TRUE(ControlInstalledService(name, true));
    EXPECT_TRUE(serves());
    EXPECT_TRUE(ControlInstalledService(name, false));
    EXPECT_EQ(RunProgram({program, "-u"}, &out, 30s, true), 0) << out;
    EXPECT_EQ(out, "removed " + name + "\n");
    EXPECT_EQ(RunProgram({program, "-u"}, &out, 30s, true), 0) << out;
    EXPECT_EQ(out, name + " was not installed\n");
#else
    const std::string unit = units / (name + ".service");
    EXPECT_EQ(RunProgram({program, "-i", "--unit-dir", units.Path()}, &out), 0) << out;
    const std::string text = ReadFile(unit);
    EXPECT_NE(text.find("ExecStart=\"" + program), std::string::npos) << text;
    EXPECT_EQ(RunProgram({program, "-u", "--unit-dir", units.Path()}, &out), 0);
    EXPECT_FALSE(std::filesystem::exists(unit));
#endif

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunProgram({program, "-start"}, &out), 0) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(out.find("started (pid "), std::string::npos) << out;
    const int pid = std::stoi(ReadFile(runtime / ("zelbin/" + name + ".pid")));
    EXPECT_FALSE(ProcessHasEnded(pid));
    EXPECT_TRUE(serves());

    ASSERT_EQ(RunProgram({program, "-start"}, &out), 0);
    EXPECT_NE(out.find("already running"), std::string::npos) << out;
    ASSERT_EQ(RunProgram({program, "-stop"}, &out), 0) << out;
    EXPECT_NE(out.find("stopped"), std::string::npos) << out;
    EXPECT_TRUE(ProcessHasEnded(pid));
    EXPECT_FALSE(std::filesystem::exists(runtime / ("zelbin/" + name + ".pid")));
    if (hardware)
    {
        EXPECT_TRUE(hardware->LogContains("Client " + std::to_string(iClients) + " disconnected"));
#if !defined(_WIN32) // what a daemon says goes to its .out file
        EXPECT_NE(ReadFile(runtime / ("zelbin/" + name + ".out"))
                      .find("connected to the receiver service\n"),
                  std::string::npos);
#endif
        CChildProcess foreground({program, "--foreground"}); // a stop signal ends it cleanly too
        ASSERT_TRUE(foreground.WaitForOutput("connected to the receiver service\n"));
        foreground.Kill(SIGTERM);
        EXPECT_EQ(foreground.Wait(), 0);
        EXPECT_TRUE(foreground.Output().ends_with(": stopped\n")) << foreground.Output();
        hardware.reset(); // a service in the foreground forgets its pid as it stops
        EXPECT_FALSE(std::filesystem::exists(runtime / "zelbin/VostraHardwareService.pid"));
    }
    ASSERT_EQ(RunProgram({program, "-stop"}, &out), 0);
    EXPECT_NE(out.find("not running"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Programs, ServiceProgramsTest,
                         testing::Values("VostraHardwareService", "VostraSoftwareService"));

// A mistyped option or number is refused with its reason and exit status 2; nothing starts. A
// scenario that is no regular file is refused before it is opened (a FIFO would hold it up).
TEST(ServicePrograms, BadOptionsAreRefused)
{
    CTempDir dir;
#if !defined(_WIN32)
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
    const struct
    {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--port", "65535x"}, "--port needs a number from 0 to 65535, not \"65535x\""},
        {{"--port", "65536"}, "--port needs a number from 0 to 65535, not \"65536\""},
        {{"--mask", "0x100000000"}, "--mask needs a number from 0 to 4294967295"},
        {{"--receiver", "7x:Room"}, "--receiver needs ID:NAME"},
        {{"--bogus", "1"}, "unknown or incomplete option \"--bogus\""},
        {{"--scenario", "/nonexistent/scenario.txt"},
         "cannot read the scenario /nonexistent/scenario.txt: No such file or directory"},
        {{"--scenario", "."}, "the scenario . is not a regular file"},
#if !defined(_WIN32)
        {{"--scenario", dir / "fifo"}, "the scenario " + dir / "fifo" + " is not a regular file"},
#endif
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> argv = {ProgramPath("VostraHardwareService.exe"), "--foreground"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out, 30s, true), 2) << c.args[1];
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
}

// A scenario's lines that do not read are named on standard error, where the person who started
// the service sees them, and skipped; a line longer than 4096 bytes too. The rest runs.
TEST(ServicePrograms, ScenarioLinesThatDoNotReadAreShownAndSkipped)
{
    CTempDir dir;
    const std::string path = dir / "scenario.txt";
    std::ofstream(path, std::ios::binary)
        << "# a comment\r\n\nat 0 appear 5 Five\nat soon appear 6 Six\nappear 7 Seven\n"
        << "at 0 say " << std::string(4087, 'x') << "\nat 0 say " << std::string(4088, 'y')
        << "\nat 0 say " << std::string(9000, 'z') // past the line buffer too
        << "\nat 100000000 go 5\nat 10 appear 8 Eight\nat 15 go 8\nat 20 frobnicate";
    CStandIn service({"--scenario", path}, "", true);
    ASSERT_TRUE(service.LogContains("Scenario step at 20 ms, \"frobnicate\": unknown command"));
    const std::string log = service.Log();
    for (const std::string& logged :
         {std::string("Receiver 5 \"Five\" state 1\r\n"),
          std::string("Receiver 8 \"Eight\" state 1\r\n"),
          std::string("Receiver 8 \"Eight\" state 2 (gone)\r\n"),
          " DEBUG " + std::string(2000, 'x') + " [cut at 2000 of 4087 bytes]\r\n"})
        EXPECT_NE(log.find(logged), std::string::npos) << logged.substr(0, 40);
    for (const char* skipped : {"yyyy", "zzzz", "Six"})
        EXPECT_EQ(log.find(skipped), std::string::npos) << skipped;
    const std::string said = service.Process().Output();
    for (const std::string complaint :
         {"line 4: \"at soon appear 6 Six\" does not read as \"at MS COMMAND\"",
          "line 5: \"appear 7 Seven\" does not read", "line 7: longer than 4096 bytes; skipped",
          "line 8: longer than 4096 bytes; skipped", "line 9: \"at 100000000 go 5\" does not read"})
        EXPECT_NE(said.find("VostraHardwareService: scenario " + path + ", " + complaint),
                  std::string::npos)
            << complaint;
}

// A unit file's ExecStart names the program whatever its folder holds: quotes, backslashes,
// a newline, a specifier, a variable.
TEST(ServicePrograms, UnitFilesQuoteTheProgramPath)
{
    const struct
    {
        std::string path;
        std::string quoted;
    } cases[] = {
        {"/a \"b\"/x", "\"/a \\\"b\\\"/x\""},    {"/back\\slash", "\"/back\\\\slash\""},
        {"/new\nline/x", "\"/new\\x0aline/x\""}, {"/100%/x", "\"/100%%/x\""},
        {"/$HOME/x", "\"/$$HOME/x\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SystemdQuoted(c.path), c.quoted);
}

// Started with no standard input (as a supervisor may start it), the service gets descriptor 0
// for its log and writes there as anywhere else.
TEST(ServiceLog, WritesOnDescriptorZero)
{
    CTempDir dir;
    const int iSaved = ::dup(0);
    ::close(0);
    EXPECT_NO_THROW(CServiceLog(dir / "service.log", 0x1E).Write(LOG_VERBOSE, "started"));
    const int iLeft = ::dup(0); // -1 once the log has closed its descriptor
    ::dup2(iSaved, 0);
    ::close(iSaved);
    if (iLeft >= 0)
        ::close(iLeft);
    EXPECT_EQ(iLeft, -1);
    EXPECT_NE(ReadFile(dir / "service.log").find(" VERBOSE started\r\n"), std::string::npos);
}
} // namespace
