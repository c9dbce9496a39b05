// SPDX-License-Identifier: MIT
// Locks of the messaging library: a re-entrant critical section and its scoped holder.
// Every lock of the library is re-entrant; the I/O thread and the client object rely on it.
#pragma once

#include <mutex>
#include <thread>

class CCriticalSection
{
public:
    CCriticalSection() = default;
    virtual ~CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    // Tries a short while before sleeping, as a critical section with a spin count does: the
    // library's locks are held for a few instructions (a reference count, a queue append), and a
    // thread put to sleep and woken again costs far more than that on a busy connection.
    virtual void Lock()
    {
        for (int i = 0; i < SPIN_COUNT; ++i)
        {
            if (m_mutex.try_lock())
                return;
            CpuRelax();
        }
        m_mutex.lock();
    }
    virtual void Unlock() { m_mutex.unlock(); }

private:
    static constexpr int SPIN_COUNT = 200;
    static void CpuRelax()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
    }
    std::recursive_mutex m_mutex;
};

// Holds a lock for the span of a scope; a null lock is neither taken nor released.
class CAutoLock
{
public:
    explicit CAutoLock(CCriticalSection* pLock) : m_pLock(pLock)
    {
        if (m_pLock)
            m_pLock->Lock();
    }
    explicit CAutoLock(CCriticalSection& lock) : CAutoLock(&lock) {}
    virtual ~CAutoLock() { Release(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

    // Unlocks early; the destructor then does nothing.
    void Release()
    {
        if (m_pLock)
        {
            m_pLock->Unlock();
            m_pLock = nullptr;
        }
    }

private:
    CCriticalSection* m_pLock;
};
