// SPDX-License-Identifier: MIT
// Waitable objects: a system handle (a descriptor plus the poll events that mean "signalled" on
// POSIX, a kernel event object on Windows), the manual-reset event, and the wait for any of up to
// 64 handles.
#pragma once

#include "sync.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

// A descriptor on POSIX, a HANDLE on Windows; both fit a pointer-sized integer.
using WaitHandleValue = intptr_t;

// A handle that a wait can watch. The base does not own the descriptor; derived classes do.
class CWaitHandle
{
public:
    static constexpr WaitHandleValue NO_HANDLE = -1;

    virtual ~CWaitHandle() = default;

    WaitHandleValue GetHandle() const { return m_hHandle; }
    // POSIX only: the poll events that count as signalled; a network event changes them while
    // write is armed. A Windows event object is signalled by itself.
    short GetWaitEvents() const { return m_iWaitEvents.load(std::memory_order_relaxed); }

protected:
    CWaitHandle() = default;
    void SetHandle(WaitHandleValue hHandle, short iWaitEvents)
    {
        m_hHandle = hHandle;
        m_iWaitEvents.store(iWaitEvents, std::memory_order_relaxed);
    }
    void SetWaitEvents(short iWaitEvents)
    {
        m_iWaitEvents.store(iWaitEvents, std::memory_order_relaxed);
    }

    WaitHandleValue m_hHandle = NO_HANDLE;

private:
    std::atomic<short> m_iWaitEvents{0};
};

// Manual-reset event: stays signalled from Set until Reset. Every event of the library starts
// clear.
class CEvent : public CWaitHandle
{
public:
    explicit CEvent(bool bInitiallySet = false);
    ~CEvent() override;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    virtual void Set();
    virtual void Reset();
    virtual bool IsSet();

private:
    CCriticalSection m_lock; // under it only the system event is set or drained
    bool m_bSet = false;     // mirrors the system event's state; guarded by m_lock
};

inline constexpr int WAIT_INFINITE = -1;
inline constexpr int WAIT_MAX_HANDLES = 64;
inline constexpr int WAIT_TIMEOUT_RESULT = -2;
inline constexpr int WAIT_FAILED_RESULT = -1;

// Waits until any handle is signalled. Returns the lowest signalled index, WAIT_TIMEOUT_RESULT (-2)
// when the time-out expired and WAIT_FAILED_RESULT (-1) on any failure (bad arguments, an invalid
// or closed descriptor among the handles).
int WaitForHandles(CWaitHandle* const* pHandles, int iCount, int iTimeoutMs);

// What is left of a whole wait's time-out, rounded up so that a wait never ends before the whole
// time-out has passed; an infinite one stays infinite.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline, int iTimeoutMs)
{
    if (iTimeoutMs < 0)
        return iTimeoutMs;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}
