// SPDX-License-Identifier: MIT
// Program set-up on POSIX: arguments are bytes already (UTF-8 here); SIGPIPE is ignored. The
// program's own path is /proc/self/exe.

#include "program.h"

#include <csignal>
#include <unistd.h>

void SetUpProgram(int& /*argc*/, char**& /*argv*/)
{
    std::signal(SIGPIPE, SIG_IGN);
}

std::string GetModulePath()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string GetModuleDirectory()
{
    std::string directory = GetModulePath();
    const size_t slash = directory.rfind('/');
    directory.resize(slash == std::string::npos ? 0 : slash + 1);
    return directory;
}
