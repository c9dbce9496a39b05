// SPDX-License-Identifier: MIT
// Windows side of the wait handles: manual-reset kernel events, WaitForMultipleObjects for the
// wait for any.

#include "waithandle.h"

#include <windows.h>

namespace
{
HANDLE Native(WaitHandleValue hHandle)
{
    return reinterpret_cast<HANDLE>(hHandle);
}
} // namespace

CEvent::CEvent(bool bInitiallySet)
{
    const HANDLE hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetHandle(hEvent ? reinterpret_cast<WaitHandleValue>(hEvent) : NO_HANDLE, 0);
    if (bInitiallySet)
        Set();
}

CEvent::~CEvent()
{
    CAutoLock lock(m_lock);
    if (m_hHandle != NO_HANDLE)
        ::CloseHandle(Native(m_hHandle));
    m_hHandle = NO_HANDLE;
}

// The state is mirrored in m_bSet so that setting a set event or resetting a clear one costs no
// system call: the I/O and dispatch threads set their queue events once per queued item.
void CEvent::Set()
{
    CAutoLock lock(m_lock);
    if (m_hHandle == NO_HANDLE || m_bSet)
        return;
    m_bSet = ::SetEvent(Native(m_hHandle)) != 0;
}

void CEvent::Reset()
{
    CAutoLock lock(m_lock);
    if (m_hHandle == NO_HANDLE || !m_bSet)
        return;
    ::ResetEvent(Native(m_hHandle));
    m_bSet = false;
}

bool CEvent::IsSet()
{
    CAutoLock lock(m_lock);
    return m_bSet;
}

int WaitForHandles(CWaitHandle* const* pHandles, int iCount, int iTimeoutMs)
{
    static_assert(WAIT_MAX_HANDLES == MAXIMUM_WAIT_OBJECTS);
    if (!pHandles || iCount < 1 || iCount > WAIT_MAX_HANDLES)
        return WAIT_FAILED_RESULT;
    HANDLE handles[WAIT_MAX_HANDLES];
    for (int i = 0; i < iCount; ++i)
    {
        if (!pHandles[i] || pHandles[i]->GetHandle() == CWaitHandle::NO_HANDLE)
            return WAIT_FAILED_RESULT;
        handles[i] = Native(pHandles[i]->GetHandle());
    }
    // Like the POSIX wait, the lowest signalled index wins: WaitForMultipleObjects reports it.
    const DWORD r =
        ::WaitForMultipleObjects(static_cast<DWORD>(iCount), handles, FALSE,
                                 iTimeoutMs < 0 ? INFINITE : static_cast<DWORD>(iTimeoutMs));
    if (r == WAIT_TIMEOUT)
        return WAIT_TIMEOUT_RESULT;
    if (r < WAIT_OBJECT_0 + static_cast<DWORD>(iCount))
        return static_cast<int>(r - WAIT_OBJECT_0);
    return WAIT_FAILED_RESULT;
}
