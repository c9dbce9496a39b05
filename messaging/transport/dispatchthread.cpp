// SPDX-License-Identifier: MIT
// The dispatch thread's commands and its loop.

#include "dispatchthread.h"
#include "clientobject.h"
#include "connectionmanager.h"
#include "exceptions.h"
#include "trace.h"

#include <algorithm>

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

void CMessageDispatchThread::DropQueued()
{
    std::deque<std::unique_ptr<CDispatchCommand>> dropped;
    {
        CAutoLock lock(m_queueLock);
        dropped.swap(m_commands);
    }
    // Destroyed outside the lock: a command's destructor may release the last reference to a
    // client object, whose own teardown may queue again.
}

void CMessageDispatchThread::Queue(std::unique_ptr<CDispatchCommand> pCommand)
{
    CAutoLock lock(m_queueLock);
    m_commands.push_back(std::move(pCommand));
    m_queueEvent.Set();
}

void CMessageDispatchThread::QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer)
{
    if (!pClient || !pBuffer)
        return;
    const size_t iCost = pBuffer->GetSize() + QUEUED_MESSAGE_OVERHEAD;
    {
        CAutoLock lock(m_queueLock);
        size_t& iClientBytes = m_inboundBytes[pClient];
        if (iClientBytes + iCost > MAX_QUEUED_INBOUND_BYTES_PER_CONNECTION ||
            m_iInboundBytes + iCost > MAX_QUEUED_INBOUND_BYTES)
        {
            if (iClientBytes == 0)
                m_inboundBytes.erase(pClient);
            Trace("CMessageDispatchThread::QueueInbound: A connection sends more than is handled "
                  "(%zu bytes wait); it is removed.",
                  iClientBytes);
            throw CSystemException(SYSTEM_ERROR_NO_BUFFERS);
        }
        iClientBytes += iCost;
        m_iInboundBytes += iCost;
    }
    Queue(std::make_unique<CDeliverCommand>(this, pClient, pBuffer, &m_pending, iCost));
}

void CMessageDispatchThread::OnInboundDone(CClientObject* pClient, size_t iCost)
{
    CAutoLock lock(m_queueLock);
    const auto it = m_inboundBytes.find(pClient);
    if (it == m_inboundBytes.end())
        return;
    it->second -= std::min(it->second, iCost);
    m_iInboundBytes -= std::min(m_iInboundBytes, iCost);
    if (it->second == 0)
        m_inboundBytes.erase(it);
}

size_t CMessageDispatchThread::GetQueuedInboundBytes(CClientObject* pClient)
{
    CAutoLock lock(m_queueLock);
    const auto it = m_inboundBytes.find(pClient);
    return it == m_inboundBytes.end() ? 0 : it->second;
}

size_t CMessageDispatchThread::GetQueuedInboundBytes()
{
    CAutoLock lock(m_queueLock);
    return m_iInboundBytes;
}

void CMessageDispatchThread::QueueDisconnect(CClientObject* pClient)
{
    if (pClient)
        Queue(std::make_unique<CDetachCommand>(m_pOwner, pClient));
}

void CMessageDispatchThread::AddPendingRequest(CRequestMessage* pRequest)
{
    if (pRequest && pRequest->GetKind() == MESSAGE_KIND_REQUEST)
        Queue(std::make_unique<CAddPendingCommand>(pRequest, &m_pending));
}

void CMessageDispatchThread::RemovePendingRequest(CRequestMessage* pRequest)
{
    if (pRequest && pRequest->GetKind() == MESSAGE_KIND_REQUEST)
        Queue(std::make_unique<CRemovePendingCommand>(pRequest, &m_pending));
}

void CMessageDispatchThread::Run()
{
    CWaitHandle* handles[2] = {GetStopEvent(), &m_queueEvent};
    while (WaitForEvents(handles, 2, WAIT_INFINITE) == 1)
    {
        m_queueLock.Lock();
        while (!m_commands.empty())
        {
            std::unique_ptr<CDispatchCommand> pCommand = std::move(m_commands.front());
            m_commands.pop_front();
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
