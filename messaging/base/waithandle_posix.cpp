// SPDX-License-Identifier: MIT
// POSIX side of the wait handles: eventfd for events, poll for the wait for any.

#include "waithandle.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

// ThreadSanitizer does not see an eventfd as a synchronisation: tell it that setting an event
// publishes what was written before, and that a wait that saw the event signalled acquires it.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define ZELBIN_TSAN_ACQUIRE(p) __tsan_acquire(p)
#define ZELBIN_TSAN_RELEASE(p) __tsan_release(p)
#else
#define ZELBIN_TSAN_ACQUIRE(p) ((void)(p))
#define ZELBIN_TSAN_RELEASE(p) ((void)(p))
#endif

CEvent::CEvent(bool bInitiallySet)
{
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    SetHandle(fd < 0 ? NO_HANDLE : fd, POLLIN);
    if (bInitiallySet)
        Set();
}

CEvent::~CEvent()
{
    CAutoLock lock(m_lock);
    if (m_hHandle != NO_HANDLE)
        ::close(static_cast<int>(m_hHandle));
    m_hHandle = NO_HANDLE;
}

// The counter is kept at 0 or 1 so that Reset drains it with one read, like a manual-reset event.
// The state is also kept in m_bSet (under m_lock, which every change takes), so that setting a
// set event or resetting a clear one costs no system call: the I/O and dispatch threads set their
// queue events once per queued item.
void CEvent::Set()
{
    CAutoLock lock(m_lock);
    if (m_hHandle == NO_HANDLE || m_bSet)
        return;
    ZELBIN_TSAN_RELEASE(static_cast<CWaitHandle*>(this));
    const uint64_t one = 1;
    m_bSet = ::write(static_cast<int>(m_hHandle), &one, sizeof one) == sizeof one;
}

void CEvent::Reset()
{
    CAutoLock lock(m_lock);
    if (m_hHandle == NO_HANDLE || !m_bSet)
        return;
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(static_cast<int>(m_hHandle), &value, sizeof value);
    m_bSet = false;
}

bool CEvent::IsSet()
{
    CAutoLock lock(m_lock);
    if (m_bSet)
        ZELBIN_TSAN_ACQUIRE(static_cast<CWaitHandle*>(this));
    return m_bSet;
}

int WaitForHandles(CWaitHandle* const* pHandles, int iCount, int iTimeoutMs)
{
    if (!pHandles || iCount < 1 || iCount > WAIT_MAX_HANDLES)
        return WAIT_FAILED_RESULT;

    pollfd fds[WAIT_MAX_HANDLES];
    for (int i = 0; i < iCount; ++i)
    {
        if (!pHandles[i] || pHandles[i]->GetHandle() == CWaitHandle::NO_HANDLE)
            return WAIT_FAILED_RESULT;
        fds[i] =
            pollfd{static_cast<int>(pHandles[i]->GetHandle()), pHandles[i]->GetWaitEvents(), 0};
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(iTimeoutMs < 0 ? 0 : iTimeoutMs);
    int iRemaining = iTimeoutMs;
    for (;;)
    {
        const int r = ::poll(fds, static_cast<nfds_t>(iCount), iRemaining);
        if (r > 0)
            break;
        if (r == 0)
            return WAIT_TIMEOUT_RESULT;
        if (errno != EINTR)
            return WAIT_FAILED_RESULT;
        if (iTimeoutMs >= 0)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            iRemaining = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }

    for (int i = 0; i < iCount; ++i)
    {
        const short revents = fds[i].revents;
        if (revents & POLLNVAL)
            return WAIT_FAILED_RESULT;
        // Hang-up and error are reported by poll whatever was asked; they make a socket's
        // network event signalled so that its owner can enumerate and act on them.
        if (revents & (fds[i].events | POLLHUP | POLLERR))
        {
            ZELBIN_TSAN_ACQUIRE(pHandles[i]);
            return i;
        }
    }
    return WAIT_FAILED_RESULT;
}
