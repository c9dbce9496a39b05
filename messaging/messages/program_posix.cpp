// SPDX-License-Identifier: MIT
// Program set-up on POSIX: arguments are bytes already (UTF-8 here); SIGPIPE is ignored.

#include "program.h"

#include <csignal>

void SetUpProgram(int& /*argc*/, char**& /*argv*/)
{
    std::signal(SIGPIPE, SIG_IGN);
}
