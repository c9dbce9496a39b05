// SPDX-License-Identifier: MIT
// Socket I/O thread: one wait over up to 61 messaging sockets plus three wake-up events. It reads
// and writes frames, sends what client objects queue, and removes sockets that close or fail.
#pragma once

#include "messagingsocket.h"
#include "threadbase.h"

#include <deque>
#include <utility>
#include <vector>

inline constexpr int MAX_SOCKETS_PER_THREAD = 61;

// Threads: Run on its own thread; AddSocket, RemoveSocket, HasSocket and GetSocketCount from the
// connection manager's callers (under the manager lock) and from Run; QueueSend from any thread.
// Locks, always in this order: m_socketLock (socket list) before m_sendLock (send queue). Under
// m_socketLock the thread calls its sockets' SetServingThreadEvent and IsReadingPaused, and,
// while flushing, their Send and (for a failed one) OnClosed, which queues a disconnect on the
// dispatch thread; RemoveSocket calls OnClosed after releasing it. QueueSend serialises before
// it takes m_sendLock, under which nothing is called.
class CSocketIOThread : public CThreadBase, public ISendQueue
{
public:
    CSocketIOThread() = default;
    // Stops and joins, then closes (OnClosed) every socket still listed, each exactly once.
    ~CSocketIOThread() override;

    bool AddSocket(IMessagingSocket* pSocket);
    // Drops the socket's queued sends, unlists it and calls its OnClosed; false if not listed.
    bool RemoveSocket(IMessagingSocket* pSocket);
    bool HasSocket(IMessagingSocket* pSocket);
    int GetSocketCount();

    // Serialises on the caller's thread, then queues the frame for this thread to write.
    void QueueSend(IMessagingSocket* pSocket, IMessage* pMessage) override;

protected:
    void Run() override;

private:
    void ServeSocket(IMessagingSocket* pSocket, bool& bRunning);
    void FlushSendQueue();
    // Removes the sockets whose frame in progress is past its deadline.
    void RemoveOverdueSockets(CRefPtr<IMessagingSocket>* pSockets, int iCount);

    CCriticalSection m_socketLock;
    std::vector<CRefPtr<IMessagingSocket>> m_sockets;
    CEvent m_socketsChanged;
    CCriticalSection m_sendLock;
    std::deque<std::pair<CRefPtr<IMessagingSocket>, CRefPtr<CByteBuffer>>> m_sendQueue;
    CEvent m_sendPending;
};
