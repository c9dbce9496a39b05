// SPDX-License-Identifier: MIT
// The dispatch thread's commands and its loop.

#include "dispatchthread.h"
#include "clientobject.h"
#include "connectionmanager.h"
#include "exceptions.h"
#include "trace.h"

#include <algorithm>
#include <iterator>

namespace
{
// Peeks identifier and correlation value: a response goes to every pending request with that
// correlation value and that expected identifier; anything unsolicited goes to the client object.
// A response that matches nothing is dropped, and never reaches the client object.
class CDeliverCommand : public CDispatchCommand
{
public:
    CDeliverCommand(CMessageDispatchThread* pThread, CClientObject* pClient, CByteBuffer* pBuffer,
                    CMessageDispatchThread::PendingList* pPending, size_t iCost)
        : m_pThread(pThread), m_pClient(pClient), m_pBuffer(pBuffer), m_pPending(pPending),
          m_iCost(iCost)
    {
    }
    // Run or dropped unrun, the message no longer counts against its client.
    ~CDeliverCommand() override { m_pThread->OnInboundDone(m_pClient.Get(), m_iCost); }
    void Execute() override
    {
        const uint32_t iId = PeekMessageID(m_pBuffer.Get());
        const uint32_t iCorrelationID = PeekCorrelationID(m_pBuffer.Get());
        if (iCorrelationID == 0)
        {
            m_pClient->Deliver(m_pBuffer.Get());
            return;
        }
        for (auto& pRequest : *m_pPending)
            if (pRequest->GetCorrelationID() == iCorrelationID && pRequest->GetResponseID() == iId)
                pRequest->SetResponse(m_pBuffer.Get());
    }

private:
    CMessageDispatchThread* m_pThread;
    CRefPtr<CClientObject> m_pClient;
    CRefPtr<CByteBuffer> m_pBuffer;
    CMessageDispatchThread::PendingList* m_pPending;
    size_t m_iCost;
};

class CDetachCommand : public CDispatchCommand
{
public:
    CDetachCommand(CConnectionManager* pManager, CClientObject* pClient)
        : m_pManager(pManager), m_pClient(pClient)
    {
    }
    void Execute() override { m_pManager->DetachClient(m_pClient.Get()); }

private:
    CConnectionManager* m_pManager;
    CRefPtr<CClientObject> m_pClient;
};

class CAddPendingCommand : public CDispatchCommand
{
public:
    CAddPendingCommand(CRequestMessage* pRequest, CMessageDispatchThread::PendingList* pPending)
        : m_pRequest(pRequest), m_pPending(pPending)
    {
    }
    void Execute() override { m_pPending->push_back(m_pRequest); }

private:
    CRefPtr<CRequestMessage> m_pRequest;
    CMessageDispatchThread::PendingList* m_pPending;
};

class CRemovePendingCommand : public CDispatchCommand
{
public:
    CRemovePendingCommand(CRequestMessage* pRequest, CMessageDispatchThread::PendingList* pPending)
        : m_pRequest(pRequest), m_pPending(pPending)
    {
    }
    void Execute() override
    {
        auto it = std::find(m_pPending->begin(), m_pPending->end(), m_pRequest);
        if (it != m_pPending->end())
            m_pPending->erase(it);
    }

private:
    CRefPtr<CRequestMessage> m_pRequest;
    CMessageDispatchThread::PendingList* m_pPending;
};
} // namespace

CMessageDispatchThread::~CMessageDispatchThread()
{
    Stop();
    Join();
    DropQueued();
    m_pending.clear();
}

void CMessageDispatchThread::Stop()
{
    m_bStopping = true;
    CThreadBase::Stop();
}

void CMessageDispatchThread::DropQueued()
{
    CommandQueue dropped;
    {
        CAutoLock lock(m_queueLock);
        dropped.swap(m_requests);
        for (auto& [pClient, queue] : m_clients)
            std::move(queue.commands.begin(), queue.commands.end(), std::back_inserter(dropped));
        for (auto& [pClient, queue] : m_clients)
            queue.commands.clear();
        m_turns.clear();
    }
    // Destroyed outside the lock: a command's destructor may release the last reference to a
    // client object, whose own teardown may queue again; a delivery's ends its count.
}

void CMessageDispatchThread::Queue(CClientObject* pClient,
                                   std::unique_ptr<CDispatchCommand> pCommand)
{
    CAutoLock lock(m_queueLock);
    if (!pClient)
        m_requests.push_back(std::move(pCommand));
    else
    {
        ClientQueue& queue = m_clients[pClient];
        if (queue.commands.empty())
            m_turns.push_back(pClient);
        queue.commands.push_back(std::move(pCommand));
    }
    m_queueEvent.Set();
}

bool CMessageDispatchThread::QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer,
                                          IMessagingSocket* pFrom)
{
    if (!pClient || !pBuffer)
        return true;
    const size_t iCost = pBuffer->GetSize() + QUEUED_MESSAGE_OVERHEAD;
    bool bRoom = true;
    {
        CAutoLock lock(m_queueLock);
        if (m_iInboundBytes + iCost > MAX_QUEUED_INBOUND_BYTES)
        {
            Trace("CMessageDispatchThread::QueueInbound: The connections send more than is "
                  "handled (%zu bytes wait); this one is removed.",
                  m_iInboundBytes);
            throw CSystemException(SYSTEM_ERROR_NO_BUFFERS);
        }
        ClientQueue& queue = m_clients[pClient];
        queue.iInboundBytes += iCost;
        m_iInboundBytes += iCost;
        if (queue.iInboundBytes >= INBOUND_SHARE_PER_CONNECTION && pFrom)
        {
            queue.pPaused = pFrom;
            pFrom->SetReadingPaused(true);
            bRoom = false;
        }
    }
    Queue(pClient, std::make_unique<CDeliverCommand>(this, pClient, pBuffer, &m_pending, iCost));
    return bRoom;
}

void CMessageDispatchThread::OnInboundDone(CClientObject* pClient, size_t iCost)
{
    CAutoLock lock(m_queueLock);
    const auto it = m_clients.find(pClient);
    if (it == m_clients.end())
        return;
    ClientQueue& queue = it->second;
    queue.iInboundBytes -= std::min(queue.iInboundBytes, iCost);
    m_iInboundBytes -= std::min(m_iInboundBytes, iCost);
    // Reading goes on once half the share is free again: not after every message.
    if (queue.pPaused && queue.iInboundBytes <= INBOUND_SHARE_PER_CONNECTION / 2)
    {
        queue.pPaused->SetReadingPaused(false);
        queue.pPaused.Reset();
    }
    ForgetIfIdle(pClient);
}

void CMessageDispatchThread::ForgetIfIdle(CClientObject* pClient)
{
    const auto it = m_clients.find(pClient);
    if (it != m_clients.end() && it->second.commands.empty() && it->second.iInboundBytes == 0 &&
        !it->second.pPaused)
        m_clients.erase(it);
}

size_t CMessageDispatchThread::GetQueuedInboundBytes(CClientObject* pClient)
{
    CAutoLock lock(m_queueLock);
    const auto it = m_clients.find(pClient);
    return it == m_clients.end() ? 0 : it->second.iInboundBytes;
}

size_t CMessageDispatchThread::GetQueuedInboundBytes()
{
    CAutoLock lock(m_queueLock);
    return m_iInboundBytes;
}

void CMessageDispatchThread::QueueDisconnect(CClientObject* pClient)
{
    // Behind the client's own messages: they were received before the connection ended.
    if (pClient)
        Queue(pClient, std::make_unique<CDetachCommand>(m_pOwner, pClient));
}

void CMessageDispatchThread::AddPendingRequest(CRequestMessage* pRequest, CClientObject* pClient)
{
    // In the requester's queue: its response, which comes through the same connection, is
    // queued behind it.
    if (pRequest && pRequest->GetKind() == MESSAGE_KIND_REQUEST)
        Queue(pClient, std::make_unique<CAddPendingCommand>(pRequest, &m_pending));
}

void CMessageDispatchThread::RemovePendingRequest(CRequestMessage* pRequest, CClientObject* pClient)
{
    if (pRequest && pRequest->GetKind() == MESSAGE_KIND_REQUEST)
        Queue(pClient, std::make_unique<CRemovePendingCommand>(pRequest, &m_pending));
}

std::unique_ptr<CDispatchCommand> CMessageDispatchThread::TakeNext()
{
    std::unique_ptr<CDispatchCommand> pCommand;
    if (!m_requests.empty())
    {
        pCommand = std::move(m_requests.front());
        m_requests.pop_front();
        return pCommand;
    }
    if (m_turns.empty())
        return pCommand;
    CClientObject* pClient = m_turns.front();
    m_turns.pop_front();
    ClientQueue& queue = m_clients[pClient];
    pCommand = std::move(queue.commands.front());
    queue.commands.pop_front();
    if (!queue.commands.empty())
        m_turns.push_back(pClient); // its next command waits for every other client's turn
    ForgetIfIdle(pClient);
    return pCommand;
}

void CMessageDispatchThread::Run()
{
    CWaitHandle* handles[2] = {GetStopEvent(), &m_queueEvent};
    while (WaitForEvents(handles, 2, WAIT_INFINITE) == 1)
    {
        m_queueLock.Lock();
        // A stop request is looked at between two commands: a backlog of any length ends at once.
        while (!m_bStopping)
        {
            std::unique_ptr<CDispatchCommand> pCommand = TakeNext();
            if (!pCommand)
                break;
            // Commands run outside the lock: one may queue more, which then run in this pass.
            m_queueLock.Unlock();
            pCommand->Execute();
            pCommand.reset();
            m_queueLock.Lock();
        }
        // Reset under the lock that Queue sets it under, so no wake-up is lost.
        m_queueEvent.Reset();
        m_queueLock.Unlock();
    }
}
