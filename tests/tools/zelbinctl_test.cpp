// SPDX-License-Identifier: MIT
// zelbinctl as a script would use it, against the stand-in service process, each check against
// what zelbinctl printed and what the service logged or answered.

#include "fakeanswerer.h"
#include "output.h"
#include "standin.h"
#include "testpeer.h"

#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

namespace
{
using namespace std::chrono_literals;

#if !defined(_WIN32)
// A service that answers the log file's path with the test's, the log mask and the goodbye,
// and drops the connection when a request of the kind named arrives (0: never).
class CFakeService
{
public:
    explicit CFakeService(std::string logPath, uint32_t iDropAt = 0)
        : m_logPath(std::move(logPath)), m_iDropAt(iDropAt)
    {
    }

private:
    void OnFrame(CTestPeer::CConnection& c, const ByteVector& body)
    {
        const auto word = [&](size_t at) {
            return uint32_t{body[at]} << 24 | body[at + 1] << 16 | body[at + 2] << 8 | body[at + 3];
        };
        const uint32_t iId = word(0);
        const uint32_t iCorrelation = body.size() >= 9 ? word(5) : 0;
        if (iId == m_iDropAt)
            return c.Shut();
        if (iId == GetLogFileRequest)
        {
            std::u16string path(m_logPath.begin(), m_logPath.end());
            CRefPtr<CStringResponse> p;
            MakeStringResponse(p, GetLogFileResponse, iCorrelation, path.c_str());
            c.Send(FrameOf(p.Get()));
        }
        else if (iId == GetLogMaskRequest)
        {
            CArgumentList mask;
            mask.Pack(1, ARG_UINT32, 0x1Eu);
            CRefPtr<CArgumentListResponse> p;
            MakeArgumentListResponse(p, GetLogMaskResponse, iCorrelation, &mask);
            c.Send(FrameOf(p.Get()));
        }
        else if (iId == ClientClosingRequest)
        {
            CRefPtr<CEmptyResponse> p;
            MakeEmptyResponse(p, ClientClosingResponse, iCorrelation);
            c.Send(FrameOf(p.Get()));
        }
    }

    std::string m_logPath;
    uint32_t m_iDropAt;
    CTestPeer m_peer{CTestPeer::EHandshake::Correct,
                     [this](CTestPeer::CConnection& c, const ByteVector& body)
                     { OnFrame(c, body); }};
    CLookupResponder m_answerer{m_peer.Port()};
};

// For a terminal: control characters (C0, DEL, C1) as C escapes, the rest (a backslash too) as is.
TEST(ZelbinctlOutput, EscapesControlsAndReplacesWhatIsNoText)
{
    const std::pair<std::string, std::string> escaped[] = {
        {"\t\n\r\v\f\b\x01\x1F\x7F", "\\t\\n\\r\\v\\f\\b\\x01\\x1f\\x7f"},
        {"\xC2\x80\xC2\x9B"
         "1\xC2\x9F",
         "\\u0080\\u009b1\\u009f"},
        {"\xC2\xA0\xC3\xBC\xE2\x82\xAC \x20~", "\xC2\xA0\xC3\xBC\xE2\x82\xAC  ~"},
        {"end\xC2", "end\xC2"},
    };
    for (const auto& [text, shown] : escaped)
        EXPECT_EQ(Escaped(text), shown) << shown;
}

// A command that got no answer says so and fails: a dropped connection ends its wait at once,
// long before the 10 s a request may wait. A log file the reader refuses is a failure too.
TEST(Zelbinctl, NoAnswerAndRefusedLogFilesFail)
{
    CTempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct
    {
        std::vector<std::string> args;
        uint32_t iDropAt;
        std::string logPath = ""; // a file the reader refuses: status 1, else no answer: 4
    } cases[] = {
        {{"mask"}, GetLogMaskRequest},
        {{"status"}, GetLogMaskRequest},
        {{"status"}, GetLogFileRequest},
        {{"receivers"}, GetLogMaskRequest},
        {{"log"}, GetLogFileRequest},
        {{"send", "7", "0,0,0D,1f"}, GetLogMaskRequest},
        {{"log"}, 0, fifo},
    };
    for (const auto& c : cases)
    {
        CFakeService service(c.logPath, c.iDropAt);
        const auto started = std::chrono::steady_clock::now();
        const RunResult r = RunCtl(c.args, true);
        EXPECT_EQ(r.status, c.logPath.empty() ? 4 : 1) << c.args[0] << " " << c.iDropAt << "\n"
                                                       << r.out;
        const std::string message = c.logPath.empty() ? "no answer from the receiver service"
                                                      : fifo + ": not a regular file; not followed";
        EXPECT_NE(r.out.find("zelbinctl: " + message + "\n"), std::string::npos) << r.out;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5000ms) << c.args[0];
    }
}

// A stop signal ends a long log within a second: 1 GiB read into a file, or a log written into
// a FIFO that nobody reads, where the write waits; so it does a wait for an answer. A reader
// that goes away ends it too, without a signal.
TEST(Zelbinctl, AStopSignalEndsALongLogOrAWaitWithinASecond)
{
    CTempDir dir;
    const std::string log = dir / "big.log", file = dir / "out", fifo = dir / "fifo";
    std::ofstream{log};
    std::filesystem::resize_file(log, 1ull << 30); // a hole: no room taken, read as NUL bytes
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int how : {0, 1, 2}) // stopped writing a file, stopped or deserted writing a FIFO
    {
        const std::string target = how == 0 ? file : fifo;
        int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // reads nothing
        // A page of room: a log piece fills it at once, and a write that did not wait for room
        // beside the stop signal would never end.
        ASSERT_EQ(::fcntl(reader, F_SETPIPE_SZ, 4096), 4096);
        CFakeService service(log);
        CChildProcess ctl(
            {"/bin/sh", "-c", "exec \"$0\" log >\"$1\"", ProgramPath("zelbinctl"), target});
        ASSERT_TRUE(WaitUntil(
            [&]
            {
                int n = 0;
                std::error_code error;
                return how == 0 ? std::filesystem::file_size(file, error) >= (1u << 20) && !error
                                : ::ioctl(reader, FIONREAD, &n) == 0 && n == 4096;
            },
            10s))
            << how;
        const auto start = std::chrono::steady_clock::now();
        if (how < 2)
            ctl.Kill(SIGTERM);
        else
            ::close(std::exchange(reader, -1));
        EXPECT_EQ(ctl.Wait(), 1) << how;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << how;
        ::close(reader);
    }
    CTestPeer silent; // takes the handshake and answers nothing
    CLookupResponder answerer(silent.Port());
    CChildProcess ctl(Ctl({"mask"}));
    ASSERT_TRUE(WaitUntil( // the registration, then the request that waits
        [&] { return silent.ConnectionCount() == 1 && silent.Connection(0)->FrameCount() == 2; }));
    const auto start = std::chrono::steady_clock::now();
    ctl.Kill(SIGTERM);
    EXPECT_EQ(ctl.Wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
}
#endif

// The commands and options a user sees come from one definition: the shell completes exactly
// what the help lists, and what may follow each word.
TEST(Zelbinctl, CompletionAndHelpListTheSameCommands)
{
    const std::string commands = "status receivers log mask clear-log send templates payload-test "
                                 "login-requirement sample-quiz network-name metrics ";
#if !defined(_WIN32) // the completion is bash's
    const std::pair<std::string, std::string> cases[] = {
        {"", commands + "--wait --json --trace --help "},
        {"me", "metrics "},
        {"--json mask ", "set "},
        {"mask set ", "none verbose processed raw debug "},
        {"payload-test 7 ", "--type --total --response --latency --window "},
        {"payload-test 7 --type M", "Multiple\\ Choice Math Multiple\\ Answer "},
        {"payload-test 7 --total ", ""},
        {"login-requirement --login ", "on off "},
        {"metrics --interval 5 ", "--listen --textfile --interval "},
        {"log ", "--follow "},
    };
    // One shell completes each line typed, with the completion as it is installed.
    std::vector<std::string> args = {
        "bash", "-c",
        "source \"$0\"; ctl=$1; shift; for typed; do COMP_WORDS=(\"$ctl\" $typed); "
        "[[ $typed == *' ' || -z $typed ]] && COMP_WORDS+=(''); "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _zelbinctl; printf '%s ' \"${COMPREPLY[@]}\"; "
        "echo; done",
        std::string(ZELBIN_SOURCE_DIR) + "/packaging/zelbinctl.bash-completion",
        ProgramPath("zelbinctl")};
    std::string expected;
    for (const auto& [typed, next] : cases)
    {
        args.push_back(typed);
        expected += (next.empty() ? " " : next) + "\n";
    }
    std::string out;
    EXPECT_EQ(RunProgram(args, &out), 0);
    EXPECT_EQ(out, expected);
#endif
    // The help lists the same commands, each at the start of its row, with its arguments (a
    // row too long for the line goes on under it, and its description under both).
    const RunResult shown = RunCtl({"--help"});
    EXPECT_EQ(shown.status, 0);
    const std::string& text = shown.out;
    EXPECT_NE(
        text.find("\n  payload-test RECEIVER_ID [--type NAME|INDEX] [--total N] [--response TEXT]\n"
                  "               [--latency MS] [--window MS]\n"
                  "                               run the question/response payload test\n"),
        std::string::npos)
        << text;
    std::istringstream help(text);
    std::string line, listed;
    while (std::getline(help, line))
        if (line.size() > 2 && line.rfind("  ", 0) == 0 && std::islower(line[2]) &&
            listed.find(" " + line.substr(2, line.find(' ', 2) - 2) + " ") == std::string::npos)
            listed += line.substr(2, line.find(' ', 2) - 2) + " ";
    EXPECT_EQ(listed, commands);
}

class ZelbinctlTest : public testing::Test
{
protected:
    CStandIn service{{"--receiver", "7:Room1", "--receiver", "9:Lab"}};
};

TEST_F(ZelbinctlTest, StatusMaskAndReceivers)
{
    const RunResult r = RunCtl({"status"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "connected: yes\nlog-mask: 0x1e (verbose,processed,raw,debug)\nlog-file: " +
                         service.LogPath() + "\n");
    // A name with control characters (C1 too: U+009B starts a control sequence), quotes, a
    // backslash and non-ASCII text comes out as JSON that reads back to the very name, and as
    // plain text that moves no cursor and starts no line of its own.
    const std::string name = "\x1B]0;t\x07\x1B[2J\r7\t1\tFake\x7F\xC2\x9B\\\"\xC3\xBC\xE2\x82\xAC"
                             "\xF0\x9F\x98\x80";
    service.Control("rename 9 " + name);
    EXPECT_TRUE(WaitUntil(
        [&]
        {
            return RunCtl({"receivers"}).out ==
                   "7\t1\tRoom1\n9\t1\t\\x1b]0;t\\a\\x1b[2J\\r7\\t1\\tFake\\x7f\\u009b\\\"\xC3\xBC"
                   "\xE2\x82\xAC\xF0\x9F\x98\x80\n";
        }));
    const std::string json = RunCtl({"--json", "receivers"}).out;
    EXPECT_EQ(nlohmann::json::parse(json.substr(json.find("\n{") + 1)),
              (nlohmann::json{{"id", 9}, {"state", 1}, {"name", name}}));
    EXPECT_EQ(RunCtl({"mask", "set", "debug,raw"}).status, 0);
    EXPECT_TRUE(service.LogContains("set the log mask to 0x18"));
    EXPECT_EQ(RunCtl({"mask"}).out, "0x18 (raw,debug)\n");
    // The service logs only what its mask asks for: with 0, nothing at all.
    EXPECT_EQ(RunCtl({"mask", "set", "0x0"}).status, 0);
    EXPECT_EQ(RunCtl({"--json", "mask"}).out, "{\"log-mask\":0,\"log-mask-names\":\"none\"}\n");
    const std::string before = service.Log();
    service.Control("say nobody hears this");
    EXPECT_EQ(RunCtl({"send", "7", "0,0,0D,1f"}).status, 0);
    EXPECT_EQ(service.Log(), before);
}

TEST_F(ZelbinctlTest, CommandTextsReachTheServiceAsBuilt)
{
    const struct
    {
        std::vector<std::string> args;
        std::string printed;
        std::string logged;
    } cases[] = {
        {{"send", "7", "0 x1F, 0x20"}, "0x1F,20\n", "RAW To receiver 7: 0x1F,20\r\n"},
        {{"send", "7", "0,0,0D,1f"},
         "0,0,0D,1f\n",
         "PROCESSED To receiver 7: Chanel Set and Query (0x0D), short address 0000, parameters "
         "1F\r\n"},
        // A text the service refuses is logged with the reason (its parser has tests of its own).
        {{"send", "7", "0,0,zz"}, "0,0,zz\n", "field 3 \"zz\" is not hexadecimal"},
        {{"login-requirement", "--login", "on", "--team", "off"},
         "0,0,06,3\n",
         "RAW To all receivers: 0,0,06,3\r\n"},
        {{"sample-quiz", "32"}, "", "RAW To all receivers: 0,0,0A,81,0A"},
        {{"network-name", "ROOM1234"},
         "0,0,05,52,4F,4F,4D,31,32,33,34\n",
         "To all receivers: Class Name (0x05), short address 0000, parameters 52 4F 4F 4D 31 32 33 "
         "34"},
        {{"payload-test", "9", "--total", "3", "--latency", "0", "--type", "Yes/No"},
         "ff,ff,26,3,17,70,0,0,0,0,7,b,1,1,0,0,0,0\nff,ff,26,3,17,70,0,0,0,0,7,b,2,1,0,0,0,0\n"
         "ff,ff,26,3,17,70,0,0,0,0,7,b,3,1,0,0,0,0\n",
         "RAW To receiver 9: ff,ff,26,3,17,70,0,0,0,0,7,b,3,1,0,0,0,0\r\n"},
    };
    for (const auto& c : cases)
    {
        const RunResult r = RunCtl(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(c.printed.empty() ? "" : r.out, c.printed) << c.args[0];
        EXPECT_TRUE(service.LogContains(c.logged)) << c.args[0];
    }
    EXPECT_TRUE(
        WaitUntil([&] { return RunCtl({"receivers"}).out == "7\t1\tROOM1234\n9\t1\tROOM1234\n"; }))
        << "a class-wide class name renames every receiver";
    // --latency pauses between questions.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCtl({"payload-test", "9", "--total", "3", "--latency", "200"}).status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
}

// Every byte the file holds comes out once, as the window's reader keeps it: CRs before a LF are
// one line end, printed as LF; a lone LF joins its line to the next; a CR inside a line and NUL
// bytes stay; a line of 200 000 bytes is whole. --follow goes on through a clear.
TEST_F(ZelbinctlTest, LogPrintsTheFileExactlyAndFollowsItThroughAClear)
{
    service.Control("say first line");
    ASSERT_TRUE(service.LogContains("first line"));
    const auto bytes = [](const auto& literal) { return std::string(literal, sizeof literal - 1); };
    const std::string longLine(200000, 'x');
    std::ofstream(service.LogPath(), std::ios::binary | std::ios::app)
        << bytes("A\r\r\r\n\nB\r\na\rb\r\nx\ny\r\nN\0\r\n\r\n\r\r\nK\xC3\xBC"
                 "che\r\n")
        << longLine << "\r\nlast\r\n";
    const RunResult r = RunCtl({"log"});
    const std::string expected = bytes("A\nB\na\rb\nxy\nN\0\n\n\nK\xC3\xBC"
                                       "che\n") +
                                 longLine + "\nlast\n";
    // The service logs zelbinctl's own connection behind these lines.
    EXPECT_NE(r.out.find(" DEBUG first line\n" + expected), std::string::npos) << r.out.size();
    EXPECT_EQ(r.out.find("first line"), r.out.rfind("first line")); // once

    CChildProcess follow(Ctl({"log", "--follow"}));
    ASSERT_TRUE(follow.WaitForOutput("last\n"));
    service.Control("say second line");
    EXPECT_TRUE(follow.WaitForOutput("DEBUG second line\n"));
    EXPECT_EQ(RunCtl({"clear-log"}).status, 0);
    ASSERT_TRUE(WaitUntil([&] { return service.Log().find("first line") == std::string::npos; }));
    service.Control("say after the clear");
    EXPECT_TRUE(follow.WaitForOutput("DEBUG after the clear\n"));
    follow.Kill(SIGTERM);
    EXPECT_EQ(follow.Wait(), 0);
}

TEST_F(ZelbinctlTest, WatchSurvivesTheServiceStoppingAndStartingAgain)
{
    CChildProcess watch(Ctl({"--json", "receivers", "--watch"}));
    ASSERT_TRUE(watch.WaitForOutput("{\"id\":9,\"state\":1,\"name\":\"Lab\"}\n"));
#if !defined(_WIN32)
    // While nothing happens the watch takes no CPU time (5 clock ticks of 10 ms at most).
    const double before = CpuMillisecondsOf(watch.Pid());
    std::this_thread::sleep_for(1s); // the time over which it is measured
    EXPECT_LE(CpuMillisecondsOf(watch.Pid()) - before, 50.0);
#endif
    // Every change the service reports, in order.
    for (const char* control :
         {"appear 5 New one", "rename 7 Renamed", "state 9 3", "go 5", "appear 5 Back"})
        EXPECT_EQ(service.Control(control), "ok\n") << control;
    EXPECT_EQ(service.Control("go 42"), "no receiver 42\n");
    EXPECT_TRUE(watch.WaitForOutput("{\"id\":5,\"state\":1,\"name\":\"New one\"}\n"
                                    "{\"id\":7,\"state\":1,\"name\":\"Renamed\"}\n"
                                    "{\"id\":9,\"state\":3,\"name\":\"Lab\"}\n"
                                    "{\"id\":5,\"state\":2,\"name\":\"New one\"}\n"
                                    "{\"id\":5,\"state\":1,\"name\":\"Back\"}\n"));
    service.Stop();
    EXPECT_TRUE(watch.WaitForOutput("disconnected"));
    CStandIn again({"--receiver", "12:Again"});
    EXPECT_TRUE(watch.WaitForOutput("{\"id\":12,\"state\":1,\"name\":\"Again\"}\n"));
    watch.Kill(SIGINT);
    EXPECT_EQ(watch.Wait(), 0);
}

TEST(Zelbinctl, NoServiceAndUsageErrors)
{
    // Without --wait, the service is looked for during 3000 ms.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCtl({"status"}).status, 3);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 3000ms);
    EXPECT_LT(waited, 8000ms);
    RunResult r = RunCtl({"--wait", "100", "status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "connected: no\nlog-mask: 0x00 (none)\nlog-file: \n");
    // Every number and name is checked before anything is looked up (no service needed, no
    // wait of 3000 ms), with a message that names what was wrong.
    const struct
    {
        std::vector<std::string> args;
        std::string message;
    } usage[] = {
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"send", "1"}, "TEXT is required"},
        {{"mask", "set", "loud"}, "mask set takes a number or category names"},
        {{"mask", "set", "0x100000000"}, "not \"0x100000000\""},
        {{"send", "7x", "0,0,00"}, "RECEIVER_ID must be a number from 0 to 4294967295, not \"7x\""},
        {{"send", "4294967296", "0,0,00"}, "RECEIVER_ID must be"},
        {{"payload-test", "1", "--type", "Essay"}, "--type must be"},
        {{"payload-test", "3", "--total", "0"}, "--total must be a number from 1 to 2147483647"},
        {{"payload-test", "3", "--latency", "-1"}, "--latency must be a number of milliseconds"},
        {{"payload-test", "3", "--window", "65536"},
         "--window must be a number of milliseconds from 0 to 65535, not \"65536\""},
        {{"login-requirement", "--login", "yes", "--team", "on"}, "--login must be on or off"},
        {{"sample-quiz", "3x"}, "COUNT must be"},
        {{"network-name", "123456789"}, "NAME must have at most 8 characters"},
        {{"--wait", "5s", "status"}, "--wait must be a number of milliseconds"},
        {{"status", "--wait", "-5"}, "--wait must be a number of milliseconds"},
        {{"metrics"}, "metrics takes --listen HOST:PORT or --textfile PATH"},
        {{"metrics", "--listen", "9464"}, "--listen takes HOST:PORT"},
        {{"metrics", "--listen", ":65536"}, "--listen takes HOST:PORT"},
        {{"metrics", "--textfile", "/tmp", "--interval", "0"}, "--interval must be"},
        {{}, "A subcommand is required"},
        // A built text that the service would refuse, with the service's own reason.
        {{"network-name", "R\xE2\x82\xAC"},
         "zelbinctl: the receiver service would refuse \"0,0,05,52,20AC,0,0,0,0,0,0\": field 5 "
         "\"20AC\" is above ff"},
        {{"payload-test", "1", "--total", "256"}, "\"100\" is above ff"},
#if defined(_WIN32)
        {{"metrics", "--listen", "127.0.0.1:0"}, "this build cannot serve HTTP"},
#endif
    };
    for (const auto& u : usage)
    {
        const auto started = std::chrono::steady_clock::now();
        r = RunCtl(u.args, true);
        EXPECT_EQ(r.status, 2) << u.message;
        EXPECT_NE(r.out.find(u.message), std::string::npos) << r.out;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2000ms) << u.message;
    }
    // The largest identifier is one: it is sent, so the missing service is what fails.
    EXPECT_EQ(RunCtl({"--wait", "100", "send", "4294967295", "0,0,00"}).status, 3);
    r = RunCtl({"templates"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 19);
    EXPECT_EQ(r.out.substr(0, 14), "0\tNew Command\t");
    EXPECT_NE(r.out.find("18\tPayload Test Command\t0xff,0xff,0x26,"), std::string::npos);
}
} // namespace
