// SPDX-License-Identifier: MIT
// VostraSoftwareService.exe: the software side of the receiver service. It keeps a client
// connection to the hardware service (the stand-in receiver service) and follows it through
// restarts, so its start and stop show in the service's log as a client that comes and goes.

#include "daemon.h"
#include "serviceclient.h"

#include <cstdio>
#include <string>

namespace
{
constexpr const char* PROGRAM = "VostraSoftwareService";

void PrintHelp()
{
    std::printf(
        "Usage: VostraSoftwareService.exe SWITCH [OPTIONS]\n"
        "The software side of the stand-in receiver service: it stays connected to the receiver\n"
        "service (VostraHardwareService.exe) and reconnects when that restarts; its start and "
        "stop\n"
        "show in the receiver service's log as a client that registers and disconnects.\n\n"
        "Switches:\n"
        "  -start            start as a detached daemon and return at once\n"
        "  -stop             stop the daemon and wait for it to end\n"
        "  -i                install: write a systemd user unit (on Windows: register the\n"
        "                    service with the service control manager)\n"
        "  -u                uninstall: remove that unit\n"
        "  --foreground      run in this terminal until interrupted\n"
        "  --service         run as the service that -i registered (Windows)\n"
        "  --help            this text\n\n"
        "Options:\n"
        "  --no-control      accepted for symmetry with the hardware service; nothing is read\n"
        "  --unit-dir DIR    where -i and -u put the unit (default: ~/.config/systemd/user)\n");
}

// Reports connection changes on standard output; messages are dispatched at once on the
// messaging thread, since nothing here asks the service anything in reply.
class CFollower : public IServiceClientEvents
{
public:
    bool OnMessagesPending() override { return false; }
    void OnReceiverStatus(uint32_t, uint32_t, const std::u16string&) override {}
    void OnLogUpdated() override {}
    void OnConnected() override { Say("connected to the receiver service"); }
    void OnDisconnected() override { Say("lost the receiver service; waiting for it"); }
    static void Say(const char* what)
    {
        std::printf("%s: %s\n", PROGRAM, what);
        std::fflush(stdout);
    }
};

int Serve(const std::function<void()>& ready)
{
    BlockStopSignals();
    CFollower follower;
    {
        CServiceClient client;
        client.SetEventSink(&follower);
        CFollower::Say(client.IsConnected() ? "started, connected to the receiver service"
                                            : "started; waiting for the receiver service");
        ready();
        WaitForStopSignal();
        client.SetEventSink(nullptr);
    }
    CFollower::Say("stopped");
    return 0;
}
} // namespace

int Main(int argc, char** argv)
{
    std::string sw, unitDir, readyHandle;
    std::vector<std::string> passOn; // every argument but "-start", for the daemon child
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg != "-start")
            passOn.push_back(arg);
        if (arg == "--unit-dir" && i + 1 < argc)
            passOn.push_back(unitDir = argv[++i]);
        else if (arg == DAEMON_CHILD_SWITCH && i + 1 < argc)
        {
            sw = arg;
            passOn.push_back(readyHandle = argv[++i]);
        }
        else if (arg == "--no-control")
            continue;
        else if (arg == "-start" || arg == "-stop" || arg == "-i" || arg == "-u" ||
                 arg == "--foreground" || arg == "--help" || arg == "-h" || arg == SERVICE_SWITCH)
            sw = arg;
        else
        {
            std::fprintf(stderr, "%s: unknown option \"%s\" (see --help)\n", PROGRAM, arg.c_str());
            return 2;
        }
    }
    if (sw.empty() || sw == "--help" || sw == "-h")
    {
        PrintHelp();
        return sw.empty() ? 2 : 0;
    }
    if (sw == "--foreground")
        return Serve([] {});
    if (sw == "-start")
        return StartDaemon(PROGRAM, passOn, Serve);
    if (sw == DAEMON_CHILD_SWITCH)
        return RunDaemonChild(PROGRAM, readyHandle, Serve);
    if (sw == SERVICE_SWITCH)
        return RunAsService(PROGRAM, Serve);
    if (sw == "-stop")
        return StopDaemon(PROGRAM);
    if (sw == "-i")
        return InstallUnit(PROGRAM, unitDir);
    return UninstallUnit(PROGRAM, unitDir);
}

int main(int argc, char** argv)
{
    return RunProgramMain(Main, argc, argv);
}
