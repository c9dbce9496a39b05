// SPDX-License-Identifier: MIT
// The stand-in receiver service, run as a real process in a private network namespace and
// checked through the messaging library: look-up, handshake, every request, receivers, the log
// file, several clients, bad input, and the two service programs' switches.

#include "connectionmanager.h"
#include "servicelocator.h"
#include "standin.h"
#include "testpeer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
using namespace std::chrono_literals;

class CListener : public IClientListener
{
public:
    void OnMessage(CByteBuffer* pBuffer) override
    {
        std::lock_guard<std::mutex> g(mutex);
        messages.emplace_back(pBuffer->Data(), pBuffer->Data() + pBuffer->GetSize());
    }
    void OnConnected() override {}
    void OnDisconnected() override { ++disconnects; }
    size_t Count()
    {
        std::lock_guard<std::mutex> g(mutex);
        return messages.size();
    }
    ByteVector At(size_t i)
    {
        std::lock_guard<std::mutex> g(mutex);
        return messages.at(i);
    }
    // Receiver records of every status event received so far, in order.
    std::vector<ReceiverRecord> Records()
    {
        std::vector<ReceiverRecord> records;
        std::lock_guard<std::mutex> g(mutex);
        for (const auto& m : messages)
        {
            CRefPtr<CReceiverListMessage> list;
            MakeReceiverListMessage(list, ReceiverStatusEvent, nullptr, 0);
            if (!list->Deserialise(BufferOf(m).Get()))
                continue;
            const ReceiverRecord* p = nullptr;
            const int n = list->GetRecords(&p);
            records.insert(records.end(), p, p + n);
        }
        return records;
    }
    size_t CountOf(uint32_t id)
    {
        std::lock_guard<std::mutex> g(mutex);
        return std::count_if(messages.begin(), messages.end(),
                             [&](const ByteVector& m)
                             { return PeekMessageID(BufferOf(m).Get()) == id; });
    }
    std::mutex mutex;
    std::vector<ByteVector> messages;
    std::atomic<int> disconnects = 0;
};

// A client of the messaging library connected to the stand-in.
class CClient
{
public:
    CClient(CConnectionManager& manager, uint16_t port) : m_manager(manager)
    {
        MakeClientEndpoint(endpoint, &listener);
        connected = manager.ConnectClientObject(endpoint.Get(), "127.0.0.1", port,
                                                SERVICE_IDENTIFIER, true);
    }
    ~CClient()
    {
        m_manager.DetachClient(endpoint.Get());
        endpoint->SetListener(nullptr);
    }
    CRefPtr<CByteBuffer> Ask(uint32_t request, uint32_t response)
    {
        CRefPtr<CEmptyRequest> r;
        MakeEmptyRequest(r, request, response);
        CRefPtr<CByteBuffer> out;
        endpoint->SendRequest(r.Get(), out, 10000);
        return out;
    }
    uint32_t Mask()
    {
        CRefPtr<CArgumentListResponse> reader;
        MakeArgumentListResponse(reader, GetLogMaskResponse, 0, nullptr);
        uint32_t mask = 0xDEAD;
        if (!reader->Deserialise(Ask(GetLogMaskRequest, GetLogMaskResponse).Get()) ||
            !reader->GetArguments().Unpack(1, ARG_UINT32, &mask))
            return 0xDEAD;
        return mask;
    }
    void SetMask(uint32_t mask)
    {
        CRefPtr<CIntegerListMessage> m;
        MakeIntegerListMessage(m, SetLogMaskMessage, 1, &mask);
        endpoint->Send(m.Get());
    }

    CListener listener;
    CRefPtr<CClientEndpoint> endpoint;
    bool connected = false;

private:
    CConnectionManager& m_manager;
};

class CPortListener : public IServiceLocatorListener
{
public:
    void OnServicePortFound(uint16_t port) override
    {
        if (port)
        {
            m_port = port;
            found.Set();
        }
    }
    std::atomic<uint16_t> m_port = 0;
    CEvent found;
};

TEST(StandIn, SendsTheHandshakeAndAnswersEveryRequest)
{
    CStandIn service;
    uint8_t handshake[16] = {};
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(service.Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_TRUE(ReadAll(fd, handshake, 16));
        ::close(fd);
    }
    EXPECT_EQ(Hex(handshake, 16), Hex(SERVICE_IDENTIFIER, 16));

    CConnectionManager manager;
    CClient client(manager, service.Port());
    ASSERT_TRUE(client.connected);
    EXPECT_EQ(client.Mask(), 0x1Eu);

    CRefPtr<CStringResponse> path;
    MakeStringResponse(path, GetLogFileResponse, 0, nullptr);
    ASSERT_TRUE(path->Deserialise(client.Ask(GetLogFileRequest, GetLogFileResponse).Get()));
    EXPECT_EQ(std::u16string(path->GetText()),
              std::u16string(service.LogPath().begin(), service.LogPath().end()));

    // Answers come back only when identifier and correlation value match: an answer is proof.
    CRefPtr<CByteBuffer> closing = client.Ask(ClientClosingRequest, ClientClosingResponse);
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->GetSize(), 9u);
    EXPECT_TRUE(service.LogContains("Client 2 is closing"));
}

TEST(StandIn, ReportsTheReceiverListAndEveryChange)
{
    CStandIn service({"--receiver", "7:Room1", "--receiver", "9:Lab"});
    CConnectionManager manager;
    CClient client(manager, service.Port());
    ASSERT_TRUE(WaitUntil([&] { return client.listener.Count() >= 1; }));
    auto records = client.listener.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].iReceiverID, 7u);
    EXPECT_EQ(std::u16string(records[0].szName), u"Room1");
    EXPECT_EQ(records[1].iReceiverID, 9u);

    const struct
    {
        const char* control;
        uint32_t id;
        uint32_t state;
        const char16_t* name;
    } steps[] = {
        {"appear 5 New one", 5, 1, u"New one"},
        {"rename 7 Renamed", 7, 1, u"Renamed"},
        {"state 9 3", 9, 3, u"Lab"},
        {"go 5", 5, 2, u"New one"},
        {"appear 5 Back", 5, 1, u"Back"},
    };
    size_t expected = 2;
    for (const auto& step : steps)
    {
        EXPECT_EQ(service.Control(step.control), "ok\n") << step.control;
        ++expected;
        ASSERT_TRUE(WaitUntil([&] { return client.listener.Records().size() == expected; }))
            << step.control;
        const ReceiverRecord last = client.listener.Records().back();
        EXPECT_EQ(last.iReceiverID, step.id) << step.control;
        EXPECT_EQ(last.iState, step.state) << step.control;
        EXPECT_EQ(std::u16string(last.szName), step.name) << step.control;
    }
    EXPECT_EQ(service.Control("go 42"), "no receiver 42\n");
}

TEST(StandIn, LogFollowsTheMaskShrinksOnClearAndAnnouncesChanges)
{
    CStandIn service;
    CConnectionManager manager;
    CClient client(manager, service.Port());
    ASSERT_TRUE(client.connected);
    ASSERT_EQ(client.Mask(), 0x1Eu);

    client.SetMask(0);
    ASSERT_TRUE(WaitUntil([&] { return client.Mask() == 0; }));
    const std::string before = service.Log();
    service.Control("say nobody hears this");
    service.Control("appear 3 Quiet");
    EXPECT_EQ(service.Log(), before); // mask 0 writes nothing

    client.SetMask(LOG_DEBUG);
    ASSERT_TRUE(WaitUntil([&] { return client.Mask() == LOG_DEBUG; }));
    const size_t events = client.listener.CountOf(LogUpdatedEvent);
    service.Control("say gr\xC3\xBC\xC3\x9F dich");
    ASSERT_TRUE(service.LogContains(" DEBUG gr\xC3\xBC\xC3\x9F dich\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return client.listener.CountOf(LogUpdatedEvent) > events; }));
    EXPECT_EQ(service.Log().find("Quiet"), std::string::npos);

    const size_t full = service.Log().size();
    ASSERT_GT(full, 0u);
    const size_t beforeClear = client.listener.CountOf(LogUpdatedEvent);
    CRefPtr<CEmptyMessage> clear;
    MakeEmptyMessage(clear, ClearLogMessage);
    client.endpoint->Send(clear.Get());
    ASSERT_TRUE(WaitUntil([&] { return service.Log().size() < full; }));
    EXPECT_TRUE(WaitUntil([&] { return client.listener.CountOf(LogUpdatedEvent) > beforeClear; }));
}

// A burst of log lines is announced about fifty times a second, not once a line, and not only
// at its end.
TEST(StandIn, LogUpdatesOfABurstArePaced)
{
    CStandIn service;
    CConnectionManager manager;
    CClient client(manager, service.Port());
    ASSERT_TRUE(client.connected);
    const size_t before = client.listener.CountOf(LogUpdatedEvent);
    const auto start = std::chrono::steady_clock::now();
    service.Control("log 4000 1");
    ASSERT_TRUE(WaitUntil([&] { return service.LogContains("Flood line 4000 of 4000"); }));
    const size_t events = client.listener.CountOf(LogUpdatedEvent) - before;
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    // One announcement, then at least 20 ms before the next.
    EXPECT_LE(events, static_cast<size_t>(elapsedMs / 20 + 2)) << elapsedMs << " ms";
    EXPECT_GE(events, 2u);
}

TEST(StandIn, ReceiverCommandsAreLoggedRawAndDecoded)
{
    CStandIn service({"--receiver", "7:Room1", "--receiver", "8:Lab"});
    CConnectionManager manager;
    CClient client(manager, service.Port());
    auto send = [&](uint32_t receiver, const char16_t* text)
    {
        CArgumentList arguments;
        arguments.Pack(2, ARG_UINT32, receiver, ARG_WSTRING, text);
        CRefPtr<CArgumentListMessage> m;
        MakeArgumentListMessage(m, ReceiverCommand, &arguments);
        client.endpoint->Send(m.Get());
    };
    send(7, u"0,0,0D,1f");
    EXPECT_TRUE(service.LogContains("RAW To receiver 7: 0,0,0D,1f\r\n"));
    EXPECT_TRUE(service.LogContains(
        "PROCESSED To receiver 7: Chanel Set and Query (0x0D), short address 0000, "
        "parameters 1F\r\n"));
    const struct
    {
        const char16_t* text;
        const char* reason;
    } malformed[] = {
        {u"0,0,zz", "field 3 \"zz\" is not hexadecimal"},
        {u"0,0,100", "field 3 \"100\" is above ff"},
        {u"0,0", "too few fields"},
        {u"0,,1", "empty field 2"},
    };
    for (const auto& m : malformed)
    {
        send(7, m.text);
        EXPECT_TRUE(service.LogContains(m.reason)) << m.reason;
    }
    // A class-wide Class Name renames every receiver and reports the new names.
    send(0, u"0,0,05,52,4F,4F,4D,31,32,0,0");
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            const auto r = client.listener.Records();
            return r.size() >= 4 && std::u16string(r[2].szName) == u"ROOM12" &&
                   std::u16string(r[3].szName) == u"ROOM12";
        }));
    EXPECT_EQ(client.Mask(), 0x1Eu); // still serving
}

// A client that took the handshake and never registered gets neither events nor answers; the
// service logs what it ignored.
TEST(StandIn, AnUnregisteredClientGetsNothing)
{
    CStandIn service({"--receiver", "1:A"});
    const int fd = ConnectRaw(service.Port());
    ASSERT_GE(fd, 0);
    const ByteVector ask = Frame(Bytes("00 00 00 0E 02 00 00 00 07")); // GetLogMaskRequest
    ASSERT_TRUE(WriteAll(fd, ask.data(), ask.size()));
    EXPECT_TRUE(service.LogContains("Client 1: message 14 before registration; ignored"));
    // An event for every registered client: once the registered one has it, the unregistered
    // one, listed first, would have had it too.
    CConnectionManager manager;
    CClient registered(manager, service.Port());
    ASSERT_TRUE(registered.connected);
    service.Control("appear 2 B");
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            const auto r = registered.listener.Records();
            return std::any_of(r.begin(), r.end(),
                               [](const ReceiverRecord& x) { return x.iReceiverID == 2; });
        }));
    uint8_t byte = 0;
    EXPECT_EQ(::recv(fd, &byte, 1, MSG_DONTWAIT), -1); // nothing came: no answer, no event
    EXPECT_EQ(errno, EAGAIN);
    ::close(fd);
}

// Each bad input closes or ignores its own client only; the other client is served throughout.
TEST(StandIn, BadInputAffectsOnlyItsOwnClient)
{
    CStandIn service;
    CConnectionManager manager;
    CClient good(manager, service.Port());
    ASSERT_TRUE(good.connected);
    const ByteVector registration = Frame(Bytes("00 00 00 01 01 00 00 00 01"));
    const struct
    {
        const char* name;
        ByteVector bytes;
        const char* logged;
    } cases[] = {
        {"absurd length", Bytes("7F FF FF FF 00"), "Message too long"},
        {"truncated request", Frame(Bytes("00 00 00 0E 02 00")),
         "message 14 does not read as its class"},
        {"unknown identifier", Frame(Bytes("00 00 00 63 01")), "unknown message identifier 99"},
        {"unreadable mask", Frame(Bytes("00 00 00 0C 01 00 00")),
         "message 12 does not read as its class"},
        {"vanishes mid-frame", Bytes("00 00 00 10 01 02"), "disconnected"},
    };
    for (const auto& c : cases)
    {
        const int fd = ConnectRaw(service.Port());
        ASSERT_GE(fd, 0);
        ByteVector bytes = registration;
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        ASSERT_TRUE(WriteAll(fd, bytes.data(), bytes.size()));
        EXPECT_TRUE(service.LogContains(c.logged)) << c.name;
        ::close(fd);
        EXPECT_EQ(good.Mask(), 0x1Eu) << c.name;
    }
    EXPECT_EQ(good.listener.disconnects, 0);
}

// Gone, or ended and waiting to be reaped by whoever adopted it.
bool HasEnded(int pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() ||
           (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z');
}

class ServiceProgramsTest : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1); }
    CTempDir runtime;
    CTempDir units;
};

TEST_P(ServiceProgramsTest, InstallUninstallStartAndStop)
{
    const std::string program = ProgramPath(std::string(GetParam()) + ".exe");
    const std::string unit = units / (std::string(GetParam()) + ".service");
    std::string out;
    EXPECT_EQ(RunProgram({program, "-i", "--unit-dir", units.Path()}, &out), 0) << out;
    const std::string text = ReadFile(unit);
    EXPECT_NE(text.find("ExecStart=\"" + program), std::string::npos) << text;
    EXPECT_EQ(RunProgram({program, "-u", "--unit-dir", units.Path()}, &out), 0);
    EXPECT_FALSE(std::filesystem::exists(unit));

    std::unique_ptr<CStandIn> hardware;
    if (std::string(GetParam()) == "VostraSoftwareService")
        hardware = std::make_unique<CStandIn>();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunProgram({program, "-start"}, &out), 0) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(out.find("started (pid "), std::string::npos) << out;
    const int pid = std::stoi(ReadFile(runtime / ("zelbin/" + std::string(GetParam()) + ".pid")));
    EXPECT_EQ(::kill(pid, 0), 0);
    if (hardware)
    {
        EXPECT_TRUE(hardware->LogContains("Client 1 registered"));
    }
    else
    {
        EXPECT_NE(FindServicePort("127.0.0.1", SERVICE_IDENTIFIER, 2000), 0);
    }

    ASSERT_EQ(RunProgram({program, "-start"}, &out), 0);
    EXPECT_NE(out.find("already running"), std::string::npos) << out;
    ASSERT_EQ(RunProgram({program, "-stop"}, &out), 0) << out;
    EXPECT_NE(out.find("stopped"), std::string::npos) << out;
    EXPECT_TRUE(HasEnded(pid));
    if (hardware)
    {
        EXPECT_TRUE(hardware->LogContains("Client 1 disconnected"));
    }
    ASSERT_EQ(RunProgram({program, "-stop"}, &out), 0);
    EXPECT_NE(out.find("not running"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Programs, ServiceProgramsTest,
                         testing::Values("VostraHardwareService", "VostraSoftwareService"));

// The window's Service menu runs "-stop": it ends a service started in the foreground as well.
TEST(ServicePrograms, StopEndsAForegroundServiceAndStartLeavesItAlone)
{
    CTempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    CStandIn service;
    ASSERT_NE(service.Port(), 0);
    const std::string program = ProgramPath("VostraHardwareService.exe");
    std::string out;
    ASSERT_EQ(RunProgram({program, "-start"}, &out), 0);
    EXPECT_NE(out.find("already running"), std::string::npos) << out;
    ASSERT_EQ(RunProgram({program, "-stop"}, &out), 0);
    EXPECT_NE(out.find("stopped"), std::string::npos) << out;
    EXPECT_EQ(service.Process().Wait(std::chrono::seconds(5)), 0);
    EXPECT_FALSE(std::filesystem::exists(runtime / "zelbin/VostraHardwareService.pid"));
}

TEST(ServicePrograms, HelpDescribesEveryOptionAndBadOptionsAreRefused)
{
    std::string out;
    EXPECT_EQ(RunProgram({ProgramPath("VostraHardwareService.exe"), "--help"}, &out), 0);
    for (const char* option :
         {"-start", "-stop", "-i", "-u", "--foreground", "--port", "--log-file", "--mask",
          "--receiver", "--scenario", "appear ID", "go ID", "log N T"})
        EXPECT_NE(out.find(option), std::string::npos) << option;
    EXPECT_EQ(RunProgram({ProgramPath("VostraHardwareService.exe"), "--bogus"}, &out), 2);
    EXPECT_EQ(RunProgram({ProgramPath("VostraSoftwareService.exe"), "--help"}, &out), 0);
}

TEST(StandIn, ScenarioStepsRunInTime)
{
    CTempDir dir;
    {
        std::ofstream scenario(dir / "scenario.txt");
        scenario << "# receivers that come and go\nat 0 appear 1 First\nat 50 appear 2 Second\nat "
                    "100 go 1\n"
                 << "at 150 log 200 1\n";
    }
    CStandIn service({"--scenario", dir / "scenario.txt"});
    CConnectionManager manager;
    CClient client(manager, service.Port());
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            const auto r = client.listener.Records();
            return std::any_of(r.begin(), r.end(),
                               [](const ReceiverRecord& x)
                               { return x.iReceiverID == 1 && x.iState == 2; });
        }));
    EXPECT_TRUE(service.LogContains("Flood line 200 of 200"));
}
} // namespace
