// SPDX-License-Identifier: MIT
// Process launching on POSIX: posix_spawn of the quoted program path with its switch. There is no
// application-path registry here, so the environment passes unchanged.

#include "servicecontrol.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

std::string GetModuleDirectory()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string directory(path, static_cast<size_t>(n));
    const size_t slash = directory.rfind('/');
    if (slash != std::string::npos)
        directory.resize(slash + 1);
    return directory;
}

std::string ServiceCommandLine(const std::string& path, const std::string& sw)
{
    return "\"" + path + "\" " + sw;
}

namespace
{
// The command line's program: the quoted text up to the next quote, or up to the first blank.
std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> argv;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size())
            break;
        if (line[i] == '"')
        {
            const size_t end = line.find('"', i + 1);
            argv.push_back(
                line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1));
            i = end == std::string::npos ? line.size() : end + 1;
        }
        else
        {
            const size_t end = line.find(' ', i);
            argv.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
            i = end == std::string::npos ? line.size() : end;
        }
    }
    return argv;
}
} // namespace

bool RunServiceCommand(const std::string& path, const std::string& sw)
{
    std::vector<std::string> args = SplitCommandLine(ServiceCommandLine(path, sw));
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (argv.size() < 2 ||
        ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    // Nobody waits for the program; a thread of its own reaps it so it leaves no zombie.
    std::thread(
        [pid]
        {
            int status = 0;
            ::waitpid(pid, &status, 0);
        })
        .detach();
    return true;
}

void RunServiceCommands(const std::string& directory, const std::string& sw)
{
    if (RunServiceCommand(directory + HARDWARE_SERVICE_PROGRAM, sw))
        RunServiceCommand(directory + SOFTWARE_SERVICE_PROGRAM, sw);
}
