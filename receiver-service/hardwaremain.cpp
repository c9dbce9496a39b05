// SPDX-License-Identifier: MIT
// VostraHardwareService.exe: the stand-in receiver service as a program. It runs in the
// foreground (tests, ./run.sh) or as a detached daemon, and installs or removes its registration.

#include "daemon.h"
#include "numbers.h"
#include "receiverservice.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace
{
constexpr const char* PROGRAM = "VostraHardwareService";

void PrintHelp()
{
    std::printf(
        "Usage: VostraHardwareService.exe SWITCH [OPTIONS]\n"
        "The stand-in receiver service: simulated receivers and a log file, served to Zelbin and\n"
        "zelbinctl exactly as the real receiver service would.\n\n"
        "Switches:\n"
        "  -start               start the service as a detached daemon and return at once\n"
        "  -stop                stop the daemon and wait for it to end\n"
        "  -i                   install: write a systemd user unit that runs the service (on\n"
        "                       Windows: register it with the service control manager)\n"
        "  -u                   uninstall: remove that unit\n"
        "  --foreground         run in this terminal; control commands are read from standard "
        "input\n"
        "  --service            run as the service that -i registered (Windows)\n"
        "  --help               this text\n\n"
        "Options:\n"
        "  --port N             TCP port on 127.0.0.1 (default: any free port)\n"
        "  --log-file PATH      the log file (default: "
        "$XDG_RUNTIME_DIR/zelbin/VostraHardwareService.log)\n"
        "  --mask M             initial log mask, e.g. 0x1E (0x02 verbose, 0x04 processed, 0x08 "
        "raw,\n"
        "                       0x10 debug; 0 writes nothing)\n"
        "  --receiver ID:NAME   a simulated receiver present from the start (repeatable)\n"
        "  --scenario FILE      timed steps, one per line: \"at MS COMMAND\", COMMAND as below\n"
        "  --loop               repeat the scenario for ever\n"
        "  --announce-interval MS  announce the port on the multicast group this often (default "
        "5000;\n"
        "                       0: only at start)\n"
        "  --lookup-port N      multicast port of the look-up (default 35000)\n"
        "  --registration-timeout MS  close a client that has not registered by then (default "
        "10000)\n"
        "  --no-control         do not read control commands from standard input\n"
        "  --unit-dir DIR       where -i and -u put the unit (default: ~/.config/systemd/user)\n\n"
        "%s\n"
        "Example: VostraHardwareService.exe --foreground --receiver 7:Room1 --receiver 9:Lab\n",
        CReceiverService::ControlHelp());
}

struct Arguments
{
    std::string sw;
    ServiceOptions options;
    bool bControl = true;
    std::string unitDir;
    std::string readyHandle;         // the daemon child's (Windows)
    std::vector<std::string> passOn; // every argument but "-start", for the daemon child
};

bool Parse(int argc, char** argv, Arguments& a)
{
    a.options.programName = PROGRAM;
    bool bad = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg != "-start")
            a.passOn.push_back(arg);
        auto value = [&](std::string& out)
        {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            a.passOn.push_back(out);
            return true;
        };
        std::string v;
        // A value that does not read whole, or lies outside its range, is refused: a mistyped
        // port must not quietly become another one.
        auto number = [&](uint64_t iMax, auto& out)
        {
            if (!value(v))
                return false;
            if (ParseWholeNumber(v, iMax, out))
                return true;
            std::fprintf(stderr, "%s: %s needs a number from 0 to %llu, not \"%s\"\n", PROGRAM,
                         arg.c_str(), static_cast<unsigned long long>(iMax), v.c_str());
            bad = true;
            return false;
        };
        if (arg == "-start" || arg == "-stop" || arg == "-i" || arg == "-u" ||
            arg == "--foreground" || arg == "--help" || arg == "-h")
            a.sw = arg;
        else if (arg == DAEMON_CHILD_SWITCH && value(a.readyHandle))
            a.sw = arg;
        else if (arg == SERVICE_SWITCH)
            a.sw = arg;
        else if (arg == "--port" && number(UINT16_MAX, a.options.iPort))
            continue;
        else if (arg == "--log-file" && value(v))
            a.options.logPath = v;
        else if (arg == "--mask" && number(UINT32_MAX, a.options.iMask))
            continue;
        else if (arg == "--receiver" && value(v))
        {
            const size_t colon = v.find(':');
            std::u16string name;
            uint32_t iId = 0;
            if (!ParseWholeNumber(v.substr(0, colon), UINT32_MAX, iId) || iId == 0 ||
                !Utf8ToUtf16(colon == std::string::npos ? "Receiver " + v : v.substr(colon + 1),
                             name))
            {
                std::fprintf(stderr,
                             "%s: --receiver needs ID:NAME with an ID from 1 to %u, not \"%s\"\n",
                             PROGRAM, UINT32_MAX, v.c_str());
                return false;
            }
            a.options.receivers.push_back({iId, RECEIVER_PRESENT, name});
        }
        else if (arg == "--scenario" && value(v))
            a.options.scenarioPath = v;
        else if (arg == "--loop")
            a.options.bLoopScenario = true;
        else if (arg == "--announce-interval" && number(INT32_MAX, a.options.iAnnounceIntervalMs))
            continue;
        else if (arg == "--lookup-port" && number(UINT16_MAX, a.options.lookup.port))
            continue;
        else if (arg == "--registration-timeout" &&
                 number(INT32_MAX, a.options.iRegistrationTimeoutMs))
            continue;
        else if (arg == "--no-control")
            a.bControl = false;
        else if (arg == "--unit-dir" && value(v))
            a.unitDir = v;
        else
        {
            if (!bad)
                std::fprintf(stderr, "%s: unknown or incomplete option \"%s\" (see --help)\n",
                             PROGRAM, arg.c_str());
            return false;
        }
    }
    return true;
}

// Runs the service until a stop signal; reports readiness once it serves.
int Serve(const Arguments& a, bool bControl, const std::function<void()>& ready)
{
    BlockStopSignals();
    std::unique_ptr<CReceiverService> pService;
    try
    {
        pService = std::make_unique<CReceiverService>(a.options);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, error.what());
        return 1;
    }
    std::printf("%s listening on 127.0.0.1:%u, log file %s\n", PROGRAM, pService->GetPort(),
                pService->GetLogPath().c_str());
    std::fflush(stdout);
    ready();
    if (bControl)
    {
        // Detached: it may sit in a read of standard input when the service stops.
        std::thread(
            [service = pService.get()]
            {
                std::string line;
                while (std::getline(std::cin, line))
                {
                    if (line == "quit" || line == "exit")
                    {
                        RequestStop();
                        return;
                    }
                    std::fputs(service->Control(line).c_str(), stdout);
                    std::fflush(stdout);
                }
            })
            .detach();
    }
    WaitForStopSignal();
    pService.reset();
    return 0;
}
} // namespace

int Main(int argc, char** argv)
{
    Arguments a;
    if (!Parse(argc, argv, a))
        return 2;
    if (a.sw == "--help" || a.sw == "-h" || a.sw.empty())
    {
        PrintHelp();
        return a.sw.empty() ? 2 : 0;
    }
    if (a.sw == "--foreground")
    {
        // A foreground service records its pid like a daemon, so that "-stop" (the window's
        // Service menu) stops it too and "-start" does not start a second one beside it.
        BlockStopSignals(); // a stop request that comes once the pid is known is not lost
        RecordPid(PROGRAM);
        const int status = Serve(a, a.bControl, [] {});
        ForgetPid(PROGRAM);
        return status;
    }
    const DaemonBody body = [&](const std::function<void()>& ready)
    { return Serve(a, false, ready); };
    if (a.sw == "-start")
        return StartDaemon(PROGRAM, a.passOn, body);
    if (a.sw == DAEMON_CHILD_SWITCH)
        return RunDaemonChild(PROGRAM, a.readyHandle, body);
    if (a.sw == SERVICE_SWITCH)
        return RunAsService(PROGRAM, body);
    if (a.sw == "-stop")
        return StopDaemon(PROGRAM);
    if (a.sw == "-i")
        return InstallUnit(PROGRAM, a.unitDir);
    return UninstallUnit(PROGRAM, a.unitDir);
}

int main(int argc, char** argv)
{
    return RunProgramMain(Main, argc, argv);
}
