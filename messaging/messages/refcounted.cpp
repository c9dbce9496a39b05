// SPDX-License-Identifier: MIT
// Reference counts under the process-wide reference-count lock.

#include "refcounted.h"
#include "sync.h"

#include <cassert>

namespace
{
// The lock and its use count are guarded by their own mutex; the lock pointer is atomic so that
// counting threads read it without that mutex.
std::mutex g_lifetimeMutex;
int g_iLockUsers = 0;
std::atomic<CCriticalSection*> g_pRefCountLock{nullptr};
} // namespace

void AcquireRefCountLock()
{
    std::lock_guard<std::mutex> guard(g_lifetimeMutex);
    if (g_iLockUsers++ == 0)
        g_pRefCountLock.store(new CCriticalSection, std::memory_order_release);
}

void ReleaseRefCountLock()
{
    std::lock_guard<std::mutex> guard(g_lifetimeMutex);
    assert(g_iLockUsers > 0);
    if (--g_iLockUsers == 0)
        delete g_pRefCountLock.exchange(nullptr, std::memory_order_acq_rel);
}

CRefCounted::CRefCounted()
{
    CAutoLock lock(g_pRefCountLock.load(std::memory_order_acquire));
    m_iRefCount.store(0, std::memory_order_relaxed);
}

void CRefCounted::AddRef()
{
    CAutoLock lock(g_pRefCountLock.load(std::memory_order_acquire));
    m_iRefCount.fetch_add(1, std::memory_order_relaxed);
}

void CRefCounted::Release()
{
    bool bLast = false;
    {
        CAutoLock lock(g_pRefCountLock.load(std::memory_order_acquire));
        bLast = m_iRefCount.fetch_sub(1, std::memory_order_acq_rel) <= 1;
    }
    if (bLast)
        delete this;
}
