// SPDX-License-Identifier: MIT
// zelbinctl metrics as scrapers and hostile clients meet it: its HTTP server answers each request
// as HTTP/1.1 says, a scrape within a second whatever other clients do, and ends cleanly on a stop
// signal or its own failure; its text file is written without following what is planted beside it.

#include "metricsserver.h"
#include "standin.h"
#include "testpeer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int Connect(uint16_t port, int iReceiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (iReceiveBuffer)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iReceiveBuffer, sizeof iReceiveBuffer);
    const sockaddr_in address = Loopback(port);
    SetReceiveTimeout(fd, 5); // no read in these tests waits longer
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// Everything the server sends until it closes the connection (or 5 s pass without a byte).
std::string ReadToEnd(int fd)
{
    std::string answer;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return answer;
}

// Sends the request, says that no more comes, and reads all answers.
std::string Exchange(int fd, const std::string& request)
{
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    return ReadToEnd(fd);
}

// The port of the URL that a text names.
uint16_t PortOf(const std::string& text)
{
    return static_cast<uint16_t>(
        std::stoi(text.substr(text.rfind(':', text.find("/metrics")) + 1)));
}

const std::string PAGE = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; "
                         "charset=utf-8\r\nContent-Length: 5\r\n";

TEST(MetricsServer, EachRequestGetsTheAnswerHttpPrescribes)
{
    CMetricsServer server;
    std::string problem;
    ASSERT_TRUE(server.Start(
        "127.0.0.1", 0, [] { return std::string("page\n"); }, &problem));
    const uint16_t port = PortOf(server.GetUrl());
    CMetricsServer v6; // an IPv6 address in brackets, as a URL writes it
    EXPECT_TRUE(v6.Start(
        "[::1]", 0, [] { return std::string(); }, &problem))
        << problem;
    EXPECT_EQ(v6.GetUrl().substr(0, 13), "http://[::1]:");
    const std::string plain = "Content-Type: text/plain; charset=utf-8\r\nContent-Length: ";
    // An answer of the server's own: its body is the status's text.
    const auto own = [&](const std::string& status, const std::string& length,
                         const std::string& more = "Connection: close\r\n")
    {
        return "HTTP/1.1 " + status + "\r\n" + plain + length + "\r\n" + more + "\r\n" +
               status.substr(4) + "\n";
    };
    const struct
    {
        std::string request, answer;
    } cases[] = {
        {"HEAD /metrics HTTP/1.1\r\n\r\n", PAGE + "\r\n"},
        {"GET /metrics?x=1 HTTP/1.1\n\n", PAGE + "\r\npage\n"},
        {"GET /metrics HTTP/1.0\r\n\r\n", PAGE + "Connection: close\r\n\r\npage\n"},
        {"GET /metrics HTTP/1.0\r\nConnection: keep-alive\r\n\r\nHEAD / HTTP/1.1\r\n"
         "connection: Close\r\n\r\nGET / HTTP/1.1\r\n\r\n",
         PAGE + "\r\npage\nHTTP/1.1 200 OK\r\n" + plain + "47\r\nConnection: close\r\n\r\n"},
        {"GET / HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK\r\n" + plain +
             "47\r\n\r\nzelbinctl metrics: the figures are at /metrics\n"},
        {"GET /other HTTP/1.1\r\n\r\n", own("404 Not Found", "10", "")},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
         own("405 Method Not Allowed", "19", "Allow: GET, HEAD\r\n")},
        {"GET /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET / HTTP/1.1\r\n\r\n",
         own("413 Content Too Large", "18")},
        {"GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         own("413 Content Too Large", "18")},
        {"GET /metrics HTTP/2.0\r\n\r\n", own("505 HTTP Version Not Supported", "27")},
        {"GET  /metrics HTTP/1.1\r\n\r\n", own("400 Bad Request", "12")},
        {"GET /metrics HTTP/1.1\r\nNo colon\r\n\r\n", own("400 Bad Request", "12")},
        // the peer ends before the request does
        {"GET /metrics HTTP/1.1\r\n", own("400 Bad Request", "12")},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(8162, 'a') + "\r\n\r\n", PAGE + "\r\npage\n"},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(8163, 'a') + "\r\n\r\n",
         own("431 Request Header Fields Too Large", "32")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Exchange(Connect(port), c.request), c.answer) << c.request.substr(0, 60);
}

// The bounds on one client, each from both sides: a request dripped within its time is answered,
// one that takes longer is closed at its deadline; an idle connection likewise; a reader that
// takes nothing loses its connection; beyond the most connections, the idlest one goes at once.
TEST(MetricsServer, EachClientIsBoundedInTimeAndNumber)
{
    std::string page = "page\n";
    CMetricsServer server;
    std::string problem;
    ASSERT_TRUE(server.Start("127.0.0.1", 0, [&] { return page; }, &problem, {3, 400, 800, 400}));
    const uint16_t port = PortOf(server.GetUrl());
    // Sends the text in pieces at the pace under test and reads the answer until the server closes.
    const auto drip = [&](const std::string& text, size_t iPiece, std::chrono::milliseconds pace)
    {
        const auto start = Clock::now(); // before the server can have accepted
        const int fd = Connect(port);
        for (size_t i = 0; i < text.size(); i += iPiece)
        {
            ::send(fd, text.data() + i, std::min(iPiece, text.size() - i), MSG_NOSIGNAL);
            std::this_thread::sleep_for(pace);
        }
        const std::string answer = ReadToEnd(fd);
        return std::pair{answer, Clock::now() - start};
    };
    const std::string request = "GET /metrics HTTP/1.1\r\n\r\n"; // 25 bytes
    auto [answer, took] = drip(request + "x", 5, 10ms);
    EXPECT_EQ(answer, PAGE + "\r\npage\n");
    EXPECT_GE(took, 400ms); // the "x" began a request that never came whole
    std::tie(answer, took) = drip(request, 1, 40ms);
    EXPECT_EQ(answer, "");
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 2000ms);
    std::tie(answer, took) = drip("", 1, 0ms);
    EXPECT_GE(took, 800ms);
    EXPECT_LT(took, 3000ms);

    // Three idle connections, then a fourth: the first is closed at once, the rest stay.
    int fds[4];
    for (int& fd : fds)
        fd = Connect(port);
    const auto start = Clock::now();
    EXPECT_EQ(ReadToEnd(fds[0]), "");
    EXPECT_LT(Clock::now() - start, 400ms);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(Exchange(fds[i], request), PAGE + "\r\npage\n") << i;

    // A pipelining reader that takes nothing: its answers pile up to the limit, then it goes.
    page = std::string(256 * 1024, 'p');
    const int fd = Connect(port, 4096);
    for (int i = 0; i < 64; ++i)
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    const auto sent = Clock::now();
    EXPECT_TRUE(WaitUntil(
        [&]
        {
            return ::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                   (errno == EPIPE || errno == ECONNRESET);
        },
        5s));
    EXPECT_GE(Clock::now() - sent, 400ms);
    ::close(fd);
}

TEST(MetricsServer, AFailureInsideEndsItWithATraceLine)
{
    CTraceRecorder trace;
    CMetricsServer server;
    std::string problem;
    ASSERT_TRUE(server.Start(
        "127.0.0.1", 0, []() -> std::string { throw std::runtime_error("no page"); }, &problem));
    const uint16_t port = PortOf(server.GetUrl());
    EXPECT_EQ(Exchange(Connect(port), "GET /metrics HTTP/1.1\r\n\r\n"), "");
    CWaitHandle* handles[1] = {&server.GetFailedEvent()};
    EXPECT_EQ(WaitForHandles(handles, 1, 5000), 0);
    EXPECT_EQ(server.GetFailure(), "no page");
    EXPECT_TRUE(trace.Contains("CMetricsServer::Run: no page; no longer serving.\n"));
    EXPECT_EQ(Connect(port), -1); // refused, not left waiting
}

// zelbinctl metrics --listen on every address (":0") beside the service: 2000 idle connections cost
// a scrape nothing; a stop signal ends it with status 0 and its goodbye to the service; a second
// instance on its port is refused.
TEST(MetricsServer, AScrapeIsAnsweredWithinASecondWhateverOthersDo)
{
    CStandIn service({"--receiver", "7:Room"});
    CChildProcess ctl(Ctl({"metrics", "--listen", ":0", "--interval", "100"}), true);
    ASSERT_TRUE(ctl.WaitForOutput("/metrics\n"));
    const std::string out = ctl.Output();
    EXPECT_NE(out.find("zelbinctl: serving http://[::]:"), std::string::npos) << out;
    const uint16_t port = PortOf(out);
    const std::string request = "GET /metrics HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(WaitUntil( // zelbinctl has found the service
        [&]
        {
            const std::string page = Exchange(Connect(port), request);
            return page.find("\nzelbin_receivers{state=\"1\"} 1\n") != std::string::npos &&
                   page.find("\nzelbin_log_file_size_bytes ") != std::string::npos;
        }));

    std::vector<int> idle;
    for (int i = 0; i < 2000; ++i)
        idle.push_back(Connect(port));
    auto start = Clock::now();
    EXPECT_NE(Exchange(Connect(port), request).find("\nzelbin_receivers{state=\"1\"} 1\n"),
              std::string::npos);
    EXPECT_LT(Clock::now() - start, 1000ms);
    // The idle ones beyond the most connections were closed, not kept.
    EXPECT_LT(CountEntries(("/proc/" + std::to_string(ctl.Pid()) + "/fd").c_str()), 600u);
    for (const int i : idle)
        ::close(i);

    // With few descriptors, scrapers leave some to the rest of zelbinctl (its look-ups, its
    // connection to the service); the idlest connection makes room for a new one.
    CChildProcess few({"/bin/sh", "-c", "ulimit -n 32; exec \"$0\" metrics --listen 127.0.0.1:0",
                       ProgramPath("zelbinctl")},
                      true);
    ASSERT_TRUE(few.WaitForOutput("/metrics\n"));
    const uint16_t fewPort = PortOf(few.Output());
    std::vector<int> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(Connect(fewPort));
    EXPECT_EQ(Exchange(Connect(fewPort), "GET / HTTP/1.1\r\n\r\n").substr(0, 17),
              "HTTP/1.1 200 OK\r\n");
    // At least four of the 32 stay free (the server alone would take them all); the server makes
    // room as it takes a connection, so each try is a scrape.
    EXPECT_TRUE(WaitUntil(
        [&]
        {
            return Exchange(Connect(fewPort), "GET / HTTP/1.1\r\n\r\n").substr(0, 17) ==
                       "HTTP/1.1 200 OK\r\n" &&
                   CountEntries(("/proc/" + std::to_string(few.Pid()) + "/fd").c_str()) <= 28u;
        },
        5s));
    for (const int i : many)
        ::close(i);

    const RunResult taken =
        RunCtl({"metrics", "--listen", "127.0.0.1:" + std::to_string(port)}, true);
    EXPECT_EQ(taken.status, 2);
    EXPECT_NE(taken.out.find("zelbinctl: cannot listen on 127.0.0.1:" + std::to_string(port) +
                             ": Address already in use\n"),
              std::string::npos)
        << taken.out;
    start = Clock::now();
    ctl.Kill(SIGTERM);
    EXPECT_EQ(ctl.Wait(), 0);
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_TRUE(service.LogContains("is closing"));
}

// --textfile writes a new file beside the target and renames it: a link or FIFO planted at the old
// temporary name is neither followed nor opened; a target not a regular file is refused at once.
TEST(MetricsTextFile, NothingPlantedBesideItIsFollowed)
{
    CTempDir dir;
    const std::string target = dir / "zelbin.prom", victim = dir / "victim";
    std::ofstream(victim) << "mine\n";
    for (const int planted : {0, 1})
    {
        std::filesystem::remove(target);
        std::filesystem::remove(target + ".tmp");
        if (planted == 0)
            std::filesystem::create_symlink(victim, target + ".tmp");
        else
            ASSERT_EQ(::mkfifo((target + ".tmp").c_str(), 0600), 0);
        CChildProcess ctl(Ctl({"metrics", "--textfile", target, "--interval", "50"}));
        ASSERT_TRUE(WaitUntil(
            [&] {
                return ReadFile(target).find("zelbin_service_connected 0\n") != std::string::npos;
            }));
        const auto start = Clock::now();
        ctl.Kill(SIGTERM);
        EXPECT_EQ(ctl.Wait(), 0) << planted;
        EXPECT_LT(Clock::now() - start, 1000ms);
        const auto status = std::filesystem::symlink_status(target);
        EXPECT_EQ(status.type(), std::filesystem::file_type::regular);
        EXPECT_EQ(static_cast<unsigned>(status.permissions()), 0644u);
        EXPECT_EQ(ReadFile(victim), "mine\n");
        EXPECT_EQ(CountEntries(dir.Path().c_str()), 3u); // nothing left behind
        // No service: no log file, and so no size of one.
        EXPECT_EQ(ReadFile(target).find("zelbin_log_file_size_bytes"), std::string::npos);
    }
    std::filesystem::remove(target);
    std::filesystem::create_symlink(victim, target);
    for (const std::string& refused : {target, dir / "fifo"})
    {
        if (refused == dir / "fifo")
            ::mkfifo(refused.c_str(), 0600);
        const RunResult r = RunCtl({"metrics", "--textfile", refused}, true);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
                  "zelbinctl: " + refused + ": not a regular file; refused\n");
    }
    EXPECT_EQ(ReadFile(victim), "mine\n");
}
} // namespace
