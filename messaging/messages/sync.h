// SPDX-License-Identifier: MIT
// Locks of the messaging library: a re-entrant critical section and its scoped holder.
// Every lock of the library is re-entrant; the I/O thread and the client object rely on it.
#pragma once

#include <mutex>

class CCriticalSection
{
public:
    CCriticalSection() = default;
    virtual ~CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    virtual void Lock() { m_mutex.lock(); }
    virtual void Unlock() { m_mutex.unlock(); }

private:
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
