// SPDX-License-Identifier: MIT
// The dispatch thread's commands and its loop.

#include "dispatchthread.h"
#include "clientobject.h"
#include "connectionmanager.h"

#include <algorithm>

namespace
{
// Peeks identifier and correlation value: a response goes to every pending request with that
// correlation value and that expected identifier; anything unsolicited goes to the client object.
// A response that matches nothing is dropped, and never reaches the client object.
class CDeliverCommand : public CDispatchCommand
{
public:
    CDeliverCommand(CClientObject* pClient, CByteBuffer* pBuffer,
                    CMessageDispatchThread::PendingList* pPending)
        : m_pClient(pClient), m_pBuffer(pBuffer), m_pPending(pPending)
    {
    }
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
    CRefPtr<CClientObject> m_pClient;
    CRefPtr<CByteBuffer> m_pBuffer;
    CMessageDispatchThread::PendingList* m_pPending;
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
    CAutoLock lock(m_queueLock);
    m_commands.clear();
    m_pending.clear();
}

void CMessageDispatchThread::Queue(std::unique_ptr<CDispatchCommand> pCommand)
{
    CAutoLock lock(m_queueLock);
    m_commands.push_back(std::move(pCommand));
    m_queueEvent.Set();
}

void CMessageDispatchThread::QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer)
{
    if (pClient && pBuffer)
        Queue(std::make_unique<CDeliverCommand>(pClient, pBuffer, &m_pending));
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
