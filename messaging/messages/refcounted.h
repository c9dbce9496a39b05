// SPDX-License-Identifier: MIT
// Reference counting shared by messages, byte buffers, frame objects, messaging sockets and
// client objects, and the counted pointer that holds them.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

// Derive from this virtually: an object reached through several bases still has one count.
// A new object has count 0 until the first CRefPtr takes it; the last Release deletes it.
class CRefCounted
{
public:
    virtual ~CRefCounted() = default;
    virtual void AddRef();
    virtual void Release();

    // For tests and diagnostics only: the count at this moment.
    int32_t GetRefCount() const { return m_iRefCount.load(std::memory_order_relaxed); }

protected:
    CRefCounted();
    CRefCounted(const CRefCounted&) = delete;
    CRefCounted& operator=(const CRefCounted&) = delete;

private:
    // The process-wide reference-count lock guards every change while it exists. The count is
    // atomic as well, so objects shared between threads before any connection manager exists
    // (or after the last one went) are still counted safely.
    std::atomic<int32_t> m_iRefCount;
};

// The process-wide reference-count lock exists while its use count is above zero: each
// connection manager takes one use in its constructor and gives it back in its destructor.
void AcquireRefCountLock();
void ReleaseRefCountLock();

template <class T> class CRefPtr
{
public:
    CRefPtr() = default;
    CRefPtr(T* p) : m_p(p) // NOLINT: implicit on purpose, like assignment from a raw pointer
    {
        if (m_p)
            m_p->AddRef();
    }
    CRefPtr(const CRefPtr& other) : CRefPtr(other.m_p) {}
    CRefPtr(CRefPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    template <class U> CRefPtr(const CRefPtr<U>& other) : CRefPtr(other.Get()) {}
    ~CRefPtr() { Reset(); }

    CRefPtr& operator=(T* p)
    {
        if (p)
            p->AddRef();
        T* old = std::exchange(m_p, p);
        if (old)
            old->Release();
        return *this;
    }
    CRefPtr& operator=(const CRefPtr& other) { return *this = other.m_p; }
    CRefPtr& operator=(CRefPtr&& other) noexcept
    {
        if (this != &other)
        {
            T* old = std::exchange(m_p, std::exchange(other.m_p, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }

    void Reset() { *this = static_cast<T*>(nullptr); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    bool operator==(const CRefPtr& other) const { return m_p == other.m_p; }

private:
    T* m_p = nullptr;
};
