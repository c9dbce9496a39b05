// SPDX-License-Identifier: MIT
// Reference counts, request correlation values and waiting for a response.

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace
{
struct CCounted : virtual CRefCounted
{
    explicit CCounted(std::atomic<int>& deaths) : m_deaths(deaths) {}
    ~CCounted() override { ++m_deaths; }
    std::atomic<int>& m_deaths;
};

// Reached through two bases, an object still has one count.
struct CLeft : virtual CRefCounted
{
};
struct CRight : virtual CRefCounted
{
};
struct CBoth : CLeft, CRight
{
    explicit CBoth(std::atomic<int>& deaths) : m_deaths(deaths) {}
    ~CBoth() override { ++m_deaths; }
    std::atomic<int>& m_deaths;
};

TEST(RefCount, ObjectDiesExactlyOnceWhenTheLastPointerGoes)
{
    std::atomic<int> deaths = 0;
    {
        CRefPtr<CCounted> first(new CCounted(deaths));
        EXPECT_EQ(first->GetRefCount(), 1);
        {
            CRefPtr<CCounted> second = first;
            EXPECT_EQ(first->GetRefCount(), 2);
        }
        EXPECT_EQ(first->GetRefCount(), 1);
        CRefPtr<CCounted> moved = std::move(first);
        EXPECT_FALSE(first);
        EXPECT_EQ(moved->GetRefCount(), 1);
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);

    CBoth* both = new CBoth(deaths);
    {
        CRefPtr<CLeft> left(both);
        CRefPtr<CRight> right(both);
        EXPECT_EQ(both->GetRefCount(), 2);
    }
    EXPECT_EQ(deaths, 2);
}

TEST(RefCount, FactoriesHandOutCountOne)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogFileRequest, GetLogFileResponse);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->GetRefCount(), 1);
    CRefPtr<CByteBuffer> buffer;
    MakeByteBuffer(buffer, 0);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->GetSize(), 0u);
    EXPECT_EQ(buffer->Data(), nullptr);
}

// Copies on several threads at once, with and without the process-wide lock, lose no count.
TEST(RefCount, ConcurrentCopiesKeepTheCount)
{
    for (bool withLock : {false, true})
    {
        if (withLock)
            AcquireRefCountLock();
        std::atomic<int> deaths = 0;
        CRefPtr<CCounted> shared(new CCounted(deaths));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back(
                [&]
                {
                    for (int i = 0; i < 20000; ++i)
                    {
                        CRefPtr<CCounted> copy = shared;
                        CRefPtr<CCounted> another(copy);
                    }
                });
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(shared->GetRefCount(), 1);
        shared.Reset();
        EXPECT_EQ(deaths, 1);
        if (withLock)
            ReleaseRefCountLock();
    }
}

TEST(RefCount, LockLivesWhileItHasUsers)
{
    EXPECT_FALSE(RefCountLockExists());
    AcquireRefCountLock();
    AcquireRefCountLock();
    ReleaseRefCountLock();
    EXPECT_TRUE(RefCountLockExists());
    ReleaseRefCountLock();
    EXPECT_FALSE(RefCountLockExists());
}

TEST(Request, CorrelationValuesAreUniqueAmongLiveRequestsAndNeverZero)
{
    std::vector<CRefPtr<CEmptyRequest>> live;
    std::set<uint32_t> seen;
    for (int i = 0; i < 5000; ++i)
    {
        CRefPtr<CEmptyRequest> request;
        MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
        EXPECT_NE(request->GetCorrelationID(), 0u);
        EXPECT_TRUE(seen.insert(request->GetCorrelationID()).second);
        if (i % 2)
            live.push_back(request); // half stay alive, half die at once
    }
    EXPECT_EQ(live.front()->GetKind(), MESSAGE_KIND_REQUEST);
}

TEST(Request, WaitTimesOutEmptyAndALateResponseIsHarmless)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogMaskRequest, GetLogMaskResponse);
    CRefPtr<CByteBuffer> out = BufferOf({1});
    request->WaitForResponse(out, 20);
    EXPECT_FALSE(out);

    auto late = BufferOf(Bytes("00 00 00 0F 03 00 00 00 01"));
    request->SetResponse(late.Get());
    request->WaitForResponse(out, 0);
    EXPECT_EQ(out.Get(), late.Get());
}

TEST(Request, ResponseSetOnAnotherThreadWakesTheWaiter)
{
    CRefPtr<CEmptyRequest> request;
    MakeEmptyRequest(request, GetLogFileRequest, GetLogFileResponse);
    auto response = BufferOf(Bytes("00 00 00 0B 03 00 00 00 01 00 00"));
    std::thread answer([&] { request->SetResponse(response.Get()); });
    CRefPtr<CByteBuffer> out;
    request->WaitForResponse(out, 10000);
    answer.join();
    EXPECT_EQ(out.Get(), response.Get());
}
} // namespace
