// SPDX-License-Identifier: MIT
// Stop signals reach the listener through a self-pipe: the handler only writes a byte, which is
// all a signal handler may safely do, and it works whichever thread the signal interrupts.

#include "shutdowner.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Quenby
{

namespace
{
constexpr int STOP_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> g_signalPipe{-1}; // write end; -1 while no listener listens
int g_signalRead = -1;
struct sigaction g_previous[3];

extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0)
    {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}
} // namespace

bool Shutdowner::Start()
{
    if (m_bStarted || g_signalPipe.load() >= 0)
        return false;
    int signalPipe[2];
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0)
    {
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        return false;
    }
    m_wake[0] = wake[0];
    m_wake[1] = wake[1];
    g_signalRead = signalPipe[0];
    g_signalPipe = signalPipe[1];
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(STOP_SIGNALS[i], &action, &g_previous[i]);
    try
    {
        m_thread = std::thread([this] { Listen(); });
    }
    catch (...)
    {
        return false;
    }
    m_bStarted = true;
    return true;
}

void Shutdowner::Listen()
{
    pollfd fds[2] = {{static_cast<int>(m_wake[0]), POLLIN, 0}, {g_signalRead, POLLIN, 0}};
    for (;;)
    {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN)
        {
            char bytes[16];
            while (::read(g_signalRead, bytes, sizeof bytes) > 0)
            {
            }
            // The pointer handed to the slots does not own the listener: were it to keep it alive,
            // the owner's release during a notification would end the listener on its own thread.
            boost::shared_ptr<Shutdowner> self(this, [](Shutdowner*) {});
            ShutdownRequested(self);
        }
    }
}

Shutdowner::~Shutdowner()
{
    if (!m_bStarted)
        return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(m_wake[1]), &byte, 1);
    m_thread.join();
    for (int i = 0; i < 3; ++i)
        ::sigaction(STOP_SIGNALS[i], &g_previous[i], nullptr);
    const int fd = g_signalPipe.exchange(-1);
    ::close(fd);
    ::close(g_signalRead);
    g_signalRead = -1;
    ::close(static_cast<int>(m_wake[0]));
    ::close(static_cast<int>(m_wake[1]));
}

} // namespace Quenby
