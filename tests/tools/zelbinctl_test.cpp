// SPDX-License-Identifier: MIT
// zelbinctl as a script would use it, against the stand-in service process, each check against
// what zelbinctl printed and what the service logged or answered.

#include "standin.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace
{
using namespace std::chrono_literals;

std::vector<std::string> Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), ProgramPath("zelbinctl"));
    return args;
}

struct Result
{
    int status;
    std::string out;
};

Result RunCtl(const std::vector<std::string>& args)
{
    Result r;
    r.status = RunProgram(Ctl(args), &r.out);
    return r;
}

class ZelbinctlTest : public testing::Test
{
protected:
    CStandIn service{{"--receiver", "7:Room1", "--receiver", "9:Lab"}};
};

TEST_F(ZelbinctlTest, StatusMaskAndReceivers)
{
    Result r = RunCtl({"status"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "connected: yes\nlog-mask: 0x1e (verbose,processed,raw,debug)\nlog-file: " +
                         service.LogPath() + "\n");

    r = RunCtl({"receivers"});
    EXPECT_EQ(r.out, "7\t1\tRoom1\n9\t1\tLab\n");
    r = RunCtl({"--json", "receivers"});
    EXPECT_EQ(
        r.out,
        "{\"id\":7,\"state\":1,\"name\":\"Room1\"}\n{\"id\":9,\"state\":1,\"name\":\"Lab\"}\n");
    // Names with quotes, backslashes, control characters and non-ASCII text come out as JSON
    // that reads back to the very name.
    for (const std::string name :
         {"a\\b\"c\td\x07\x1B[1m", "K\xC3\xBC\xC3\x9F\xE2\x82\xAC \xF0\x9F\x98\x80"})
    {
        service.Control("rename 9 " + name);
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                std::istringstream lines(RunCtl({"--json", "receivers"}).out);
                std::string line;
                while (std::getline(lines, line))
                    if (nlohmann::json::parse(line, nullptr, false).value("name", "") == name)
                        return true;
                return false;
            }))
            << name;
    }
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
        {{"send", "7", "0,0,zz"}, "0,0,zz\n", "field 3 \"zz\" is not hexadecimal"},
        {{"send", "7", "0,0,100"}, "0,0,100\n", "field 3 \"100\" is above ff"},
        {{"send", "7", "0,0"}, "0,0\n", "too few fields"},
        {{"send", "7", "0,,1"}, "0,,1\n", "empty field 2"},
        {{"login-requirement", "--login", "on", "--team", "off"},
         "0,0,06,3\n",
         "RAW To all receivers: 0,0,06,3\r\n"},
        {{"sample-quiz", "32"}, "", "RAW To all receivers: 0,0,0A,81,0A"},
        {{"network-name", "ROOM12345"},
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
        const Result r = RunCtl(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        if (!c.printed.empty())
        {
            EXPECT_EQ(r.out, c.printed) << c.args[0];
        }
        EXPECT_TRUE(service.LogContains(c.logged)) << c.args[0];
    }
    EXPECT_TRUE(WaitUntil(
        [&]
        {
            const auto r = RunCtl({"receivers"});
            return r.out == "7\t1\tROOM1234\n9\t1\tROOM1234\n";
        }))
        << "a class-wide class name renames every receiver";
    // --latency pauses between questions.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunCtl({"payload-test", "9", "--total", "3", "--latency", "200"}).status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
}

// Every byte the file holds comes out once (NUL bytes, a line of 200 000 bytes, CR LF as LF);
// --follow goes on through a clear.
TEST_F(ZelbinctlTest, LogPrintsTheFileExactlyAndFollowsItThroughAClear)
{
    service.Control("say first line");
    ASSERT_TRUE(service.LogContains("first line"));
    const std::string longLine(200000, 'x');
    std::ofstream(service.LogPath(), std::ios::binary | std::ios::app)
        << std::string("a\0b\r\n", 5) << longLine << "\r\nlast\r\n";
    const Result r = RunCtl({"log"});
    const std::string expected = std::string("a\0b\n", 4) + longLine + "\nlast\n";
    // The service logs zelbinctl's own connection behind these lines.
    EXPECT_NE(r.out.find(" DEBUG first line\n" + expected), std::string::npos) << r.out.size();
    EXPECT_EQ(r.out.find("first line"), r.out.rfind("first line")); // once
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

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
    Result r = RunCtl({"--wait", "100", "status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "connected: no\nlog-mask: 0x00 (none)\nlog-file: \n");
    EXPECT_EQ(RunCtl({"--wait", "100", "send", "1", "0,0,00"}).status, 3);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"frobnicate"},
                                               {"send", "1"},
                                               {"mask", "set", "loud"},
                                               {"payload-test", "1", "--type", "Essay"},
                                               {"send", "7x", "0,0,00"},
                                               {"send", "-1", "0,0,00"},
                                               {"send", "4294967296", "0,0,00"},
                                               {"mask", "set", "0x100000000"},
                                               {"--wait", "5s", "status"},
                                               {"metrics"},
                                               {"metrics", "--listen", "9464"},
                                               {"network-name", "R\xE2\x82\xAC"},
                                               {"payload-test", "1", "--total", "256"},
                                               {}})
        EXPECT_EQ(RunCtl(bad).status, 2) << (bad.empty() ? "" : bad[0]);
    // A built text that the service would refuse is refused before connecting, with its reason.
    std::string said;
    EXPECT_EQ(RunProgram(Ctl({"network-name", "R\xE2\x82\xAC"}), &said, 30s, true), 2);
    EXPECT_NE(said.find("zelbinctl: the receiver service would refuse \"0,0,05,52,20AC,0,0,0,0,0,"
                        "0\": field 5 \"20AC\" is above ff"),
              std::string::npos)
        << said;
    // The largest identifier is one: it is sent, so the missing service is what fails.
    EXPECT_EQ(RunCtl({"--wait", "100", "send", "4294967295", "0,0,00"}).status, 3);
    r = RunCtl({"templates"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 19);
    EXPECT_EQ(r.out.substr(0, 14), "0\tNew Command\t");
    EXPECT_NE(r.out.find("18\tPayload Test Command\t0xff,0xff,0x26,"), std::string::npos);
    EXPECT_EQ(RunCtl({"--help"}).status, 0);
}
} // namespace
