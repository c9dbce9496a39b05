// SPDX-License-Identifier: MIT
// The I/O thread's wait loop. Slot 0 stop, slot 1 sockets changed, slot 2 sends pending, then the
// sockets: the lowest signalled slot wins, which gives the priorities. The sockets take turns:
// their slots start behind the one served last, so that a peer whose socket is always readable
// never keeps the others waiting.

#include "socketiothread.h"
#include "exceptions.h"
#include "message.h"
#include "trace.h"

#include <algorithm>

namespace
{
constexpr int FIXED_SLOTS = 3;
constexpr int MAX_WAIT_ERRORS = 5;
} // namespace

CSocketIOThread::~CSocketIOThread()
{
    Stop();
    Join();
    CAutoLock socketLock(m_socketLock);
    for (auto& pSocket : m_sockets)
    {
        pSocket->SetServingThreadEvent(nullptr);
        pSocket->OnClosed();
    }
    m_sockets.clear();
    CAutoLock sendLock(m_sendLock);
    m_sendQueue.clear();
}

bool CSocketIOThread::AddSocket(IMessagingSocket* pSocket)
{
    CAutoLock lock(m_socketLock);
    if (!pSocket || static_cast<int>(m_sockets.size()) >= MAX_SOCKETS_PER_THREAD)
        return false;
    m_sockets.emplace_back(pSocket);
    pSocket->SetServingThreadEvent(&m_socketsChanged);
    m_socketsChanged.Set();
    return true;
}

bool CSocketIOThread::RemoveSocket(IMessagingSocket* pSocket)
{
    CRefPtr<IMessagingSocket> hold(pSocket);
    bool bFound = false;
    {
        CAutoLock lock(m_socketLock);
        auto it = std::find_if(m_sockets.begin(), m_sockets.end(),
                               [&](const auto& p) { return p.Get() == pSocket; });
        if (it != m_sockets.end())
        {
            bFound = true;
            {
                CAutoLock sendLock(m_sendLock);
                std::erase_if(m_sendQueue,
                              [&](const auto& pair) { return pair.first.Get() == pSocket; });
            }
            pSocket->SetServingThreadEvent(nullptr);
            m_sockets.erase(it);
            m_socketsChanged.Set();
        }
    }
    if (bFound)
        pSocket->OnClosed();
    return bFound;
}

bool CSocketIOThread::HasSocket(IMessagingSocket* pSocket)
{
    CAutoLock lock(m_socketLock);
    return std::any_of(m_sockets.begin(), m_sockets.end(),
                       [&](const auto& p) { return p.Get() == pSocket; });
}

int CSocketIOThread::GetSocketCount()
{
    CAutoLock lock(m_socketLock);
    return static_cast<int>(m_sockets.size());
}

void CSocketIOThread::QueueSend(IMessagingSocket* pSocket, IMessage* pMessage)
{
    if (!pSocket || !pMessage)
        return;
    CRefPtr<CByteBuffer> pBuffer;
    pMessage->Serialise(pBuffer);
    if (!pBuffer)
        return;
    CAutoLock lock(m_sendLock);
    m_sendQueue.emplace_back(pSocket, pBuffer);
    m_sendPending.Set();
}

void CSocketIOThread::Run()
{
    CWaitHandle* handles[WAIT_MAX_HANDLES] = {GetStopEvent(), &m_socketsChanged, &m_sendPending};
    CRefPtr<IMessagingSocket> snapshot[MAX_SOCKETS_PER_THREAD];
    int iServed = 0; // sockets in the snapshot
    int iFirst = 0;  // the snapshot index whose turn comes first
    int iErrors = 0;
    bool bRunning = true;

    while (bRunning)
    {
        // An idle connection costs no wake-up; one with a frame begun is woken at its deadline.
        int64_t iDeadline = 0;
        for (int k = 0; k < iServed; ++k)
        {
            const int i = (iFirst + k) % iServed;
            handles[FIXED_SLOTS + k] = snapshot[i]->GetNetworkEvent();
            const int64_t d = snapshot[i]->GetFrameDeadline();
            if (d != 0 && (iDeadline == 0 || d < iDeadline))
                iDeadline = d;
        }
        const int iTimeout =
            iDeadline == 0 ? WAIT_INFINITE
                           : static_cast<int>(std::max<int64_t>(0, iDeadline - SteadyNowMs()));
        const int r = WaitForEvents(handles, FIXED_SLOTS + iServed, iTimeout);
        if (r == WAIT_TIMEOUT_RESULT)
        {
            RemoveOverdueSockets(snapshot, iServed);
        }
        else if (r < 0)
        {
            Trace("CSocketIOThread::Run(): Timed out or an error occured in "
                  "CThreadBase::WaitForEvents "
                  "(error %d).  Stopping thread.",
                  r);
            bRunning = ++iErrors < MAX_WAIT_ERRORS;
        }
        else if (r >= WAIT_MAX_HANDLES)
        {
            Trace(
                "CSocketIOThread::Run(): Event number out of range (event %d).  Stopping thread.\n",
                r);
            bRunning = ++iErrors < MAX_WAIT_ERRORS;
        }
        else if (r == 0)
        {
            bRunning = false;
        }
        else if (r == 1)
        {
            // The snapshot is rebuilt only when the list or a reading pause changed, not on every
            // wake-up. A socket whose reading is paused is left out. The event is reset first: a
            // pause that changes while the snapshot is built sets it again.
            CAutoLock lock(m_socketLock);
            m_socketsChanged.Reset();
            iServed = 0;
            iFirst = 0;
            for (auto& pListed : m_sockets)
                if (!pListed->IsReadingPaused())
                    snapshot[iServed++] = pListed;
            for (int i = iServed; i < MAX_SOCKETS_PER_THREAD; ++i)
                snapshot[i] = nullptr;
        }
        else if (r == 2)
        {
            FlushSendQueue();
        }
        else
        {
            const int i = (iFirst + r - FIXED_SLOTS) % std::max(iServed, 1);
            CRefPtr<IMessagingSocket> pSocket = snapshot[i];
            iFirst = (i + 1) % std::max(iServed, 1);
            if (!pSocket)
                bRunning = false;
            else
                ServeSocket(pSocket.Get(), bRunning);
        }
    }
    for (auto& p : snapshot)
        p.Reset();
}

void CSocketIOThread::RemoveOverdueSockets(CRefPtr<IMessagingSocket>* pSockets, int iCount)
{
    const int64_t iNow = SteadyNowMs();
    for (int i = 0; i < iCount; ++i)
    {
        const int64_t d = pSockets[i]->GetFrameDeadline();
        if (d != 0 && d <= iNow)
        {
            Trace("CSocketIOThread::Run(): A frame was begun and not finished in time; the "
                  "connection is removed.");
            RemoveSocket(pSockets[i].Get());
        }
    }
}

void CSocketIOThread::FlushSendQueue()
{
    CAutoLock socketLock(m_socketLock);
    CAutoLock sendLock(m_sendLock);
    while (!m_sendQueue.empty())
    {
        auto [pSocket, pBuffer] = std::move(m_sendQueue.front());
        m_sendQueue.pop_front();
        // A connection already closed (a client's answer still on its way, say) has been
        // reported once, when it closed: what is sent to it now is dropped without a word.
        if (pSocket->IsClosed())
            continue;
        try
        {
            pSocket->Send(pBuffer.Get());
        }
        catch (CExceptionBase& error)
        {
            CExceptionBase copy = error;
            copy.Report();
            RemoveSocket(pSocket.Get());
        }
    }
    m_sendPending.Reset();
}

void CSocketIOThread::ServeSocket(IMessagingSocket* pSocket, bool& bRunning)
{
    CNetworkEvent* pEvent = pSocket->GetNetworkEvent();
    const uint8_t iEvents = pEvent ? pEvent->Enumerate() : SOCKET_EVENT_ERROR;
    if (iEvents & SOCKET_EVENT_ERROR)
    {
        bRunning = false;
        return;
    }
    if (iEvents & SOCKET_EVENT_CLOSE)
    {
        RemoveSocket(pSocket);
        return;
    }
    try
    {
        if (iEvents & SOCKET_EVENT_READ)
            pSocket->OnReadable();
        if (iEvents & SOCKET_EVENT_WRITE)
            pSocket->Send(nullptr);
    }
    catch (CExceptionBase& error)
    {
        CExceptionBase copy = error;
        copy.Report();
        RemoveSocket(pSocket);
    }
}
