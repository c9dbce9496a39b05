// SPDX-License-Identifier: MIT
// Daemon plumbing for the service programs on POSIX: fork, signals, a systemd user unit.

#include "daemon.h"
#include "stopsignal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string RuntimeDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime ? std::string(runtime) + "/zelbin"
                                                : "/tmp/zelbin-" + std::to_string(::getuid());
    if (runtime && *runtime)
    {
        std::error_code ignored;
        fs::create_directories(runtime, ignored);
    }
    ::mkdir(dir.c_str(), 0700);
    // Without XDG_RUNTIME_DIR the name in /tmp can be foreseen: another user may have made it
    // first, or put a link there. Only a real directory of our own that nobody else may enter
    // is used.
    struct stat st
    {
    };
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        throw std::runtime_error(dir + " is not a private directory of this user; not used");
    return dir;
}

namespace
{
// A process that has ended but not yet been reaped by its parent (a zombie) counts as gone.
bool IsAlive(int pid)
{
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}
} // namespace

// A recorded pid names the service only while that process runs the service's program: a pid
// reused by another process, or a pid file that was tampered with, is never signalled.
bool RunsProgram(int pid, const std::string& program)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string argv0;
    std::getline(in, argv0, '\0');
    const std::string name = argv0.substr(argv0.rfind('/') + 1);
    return name == program + ".exe" || name == program;
}

int RunningPid(const std::string& program)
{
    std::ifstream in(PidFilePath(program));
    int pid = 0;
    if (!(in >> pid) || pid <= 0)
        return 0;
    return IsAlive(pid) && RunsProgram(pid, program) ? pid : 0;
}

void RecordPid(const std::string& program)
{
    std::ofstream(PidFilePath(program)) << ::getpid() << "\n";
}

void ForgetPid(const std::string& program)
{
    std::ifstream in(PidFilePath(program));
    int pid = 0;
    if (in >> pid && pid == ::getpid())
    {
        std::error_code ignored;
        fs::remove(PidFilePath(program), ignored);
    }
}

int StartDaemon(const std::string& program, const std::vector<std::string>& /*options*/,
                const DaemonBody& body)
{
    if (const int pid = RunningPid(program))
    {
        std::printf("%s is already running (pid %d)\n", program.c_str(), pid);
        return 0;
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0)
    {
        // Detach twice, so the daemon is nobody's child and never a zombie of the starter.
        ::close(ready[0]);
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        const std::string out = RuntimeDirectory() + "/" + program + ".out";
        const int log = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(null, 0);
        ::dup2(log >= 0 ? log : null, 1);
        ::dup2(log >= 0 ? log : null, 2);
        BlockStopSignals(); // a stop that comes once the pid is known waits for the service
        RecordPid(program);
        const int status = body(
            [&]
            {
                const char ok = 1;
                [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
                ::close(ready[1]);
            });
        std::error_code ignored;
        fs::remove(PidFilePath(program), ignored);
        ::_exit(status);
    }
    ::close(ready[1]);
    ::waitpid(child, nullptr, 0);
    pollfd pfd{ready[0], POLLIN, 0};
    char ok = 0;
    const bool bReady = ::poll(&pfd, 1, 10000) == 1 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
    if (!bReady)
    {
        std::fprintf(stderr, "%s did not start; see %s/%s.out\n", program.c_str(),
                     RuntimeDirectory().c_str(), program.c_str());
        return 1;
    }
    std::printf("%s started (pid %d)\n", program.c_str(), RunningPid(program));
    return 0;
}

int StopDaemon(const std::string& program)
{
    const int pid = RunningPid(program);
    if (!pid)
    {
        std::printf("%s is not running\n", program.c_str());
        return 0;
    }
    CStopSignal::RequestStopOf(pid);
    for (int i = 0; i < 1000 && IsAlive(pid); ++i)
        ::poll(nullptr, 0, 10); // the daemon ends within its own shutdown; look every 10 ms
    if (IsAlive(pid))
    {
        std::fprintf(stderr, "%s (pid %d) did not stop within 10 s\n", program.c_str(), pid);
        return 1;
    }
    std::error_code ignored;
    fs::remove(PidFilePath(program), ignored);
    std::printf("%s stopped\n", program.c_str());
    return 0;
}

std::string UnitFilePath(const std::string& program, const std::string& unitDir)
{
    std::string dir = unitDir;
    if (dir.empty())
    {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        dir = config && *config ? std::string(config) + "/systemd/user"
                                : std::string(home ? home : "/tmp") + "/.config/systemd/user";
    }
    return dir + "/" + program + ".service";
}

int InstallUnitFor(const std::string& program, const std::string& executable,
                   const std::string& unitDir)
{
    const std::string path = UnitFilePath(program, unitDir);
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream unit(path);
    unit << "[Unit]\nDescription=" << program << " (Zelbin stand-in receiver service)\n\n"
         << "[Service]\nExecStart=" << SystemdQuoted(executable) << " --foreground --no-control\n"
         << "Restart=on-failure\n\n[Install]\nWantedBy=default.target\n";
    if (!unit)
    {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("installed %s\n", path.c_str());
    return 0;
}

int UninstallUnit(const std::string& program, const std::string& unitDir)
{
    const std::string path = UnitFilePath(program, unitDir);
    std::error_code error;
    if (!fs::remove(path, error))
    {
        std::printf("%s was not installed\n", program.c_str());
        return 0;
    }
    std::printf("removed %s\n", path.c_str());
    return 0;
}

// A fork carries the body with it; nothing runs this program as a daemon child.
int RunDaemonChild(const std::string& program, const std::string&, const DaemonBody&)
{
    std::fprintf(stderr, "%s: %s is for Windows only\n", program.c_str(), DAEMON_CHILD_SWITCH);
    return 2;
}

// systemd runs the program in the foreground; nothing runs it with SERVICE_SWITCH here.
int RunAsService(const std::string& program, const DaemonBody&)
{
    std::fprintf(stderr, "%s: %s is for Windows only\n", program.c_str(), SERVICE_SWITCH);
    return 2;
}
