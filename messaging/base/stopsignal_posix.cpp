// SPDX-License-Identifier: MIT
// The stop signals on POSIX: blocked, and read through a signalfd.

#include "stopsignal.h"

#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

CStopSignal::CStopSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    SetHandle(fd < 0 ? NO_HANDLE : fd, POLLIN);
}

CStopSignal::~CStopSignal()
{
    if (m_hHandle != NO_HANDLE)
        ::close(static_cast<int>(m_hHandle));
}

void CStopSignal::Raise()
{
    ::kill(::getpid(), SIGTERM);
}

bool CStopSignal::RequestStopOf(int pid)
{
    return ::kill(pid, SIGTERM) == 0;
}
