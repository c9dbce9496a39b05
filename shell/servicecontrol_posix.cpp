// SPDX-License-Identifier: MIT
// Process launching on POSIX: posix_spawn of the quoted program path with its switch. There is no
// application-path registry here, so the environment passes unchanged.

#include "commandline.h"
#include "servicecontrol.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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
