// SPDX-License-Identifier: MIT
// Client objects: sending, request/response exchanges and the service client's endpoint.

#include "clientobject.h"

#include <new>

void CClientObject::Attach(ISendQueue* pSendQueue, IInboundSink* pSink, IMessagingSocket* pSocket)
{
    {
        CAutoLock lock(m_clientLock);
        if (pSocket)
        {
            std::lock_guard<std::mutex> waitLock(m_waitMutex);
            m_bAbandoned = false;
        }
        else
        {
            // Requests that wait on the connection that goes end now; once they have left the
            // sink, it may go too.
            std::unique_lock<std::mutex> waitLock(m_waitMutex);
            for (const auto& pRequest : m_waiting)
                pRequest->Abandon();
            m_drained.wait(waitLock, [this] { return m_waiting.empty(); });
        }
        m_pSocket = pSocket;
        m_pSendQueue = pSendQueue;
        m_pInboundSink = pSink;
        m_bConnected = pSocket && pSendQueue && pSink;
        if (pSocket)
            OnConnected();
        else
            OnDisconnected();
    }
    AfterAttach(pSocket != nullptr);
}

void CClientObject::GetSocket(CRefPtr<IMessagingSocket>& pOut)
{
    CAutoLock lock(m_clientLock);
    pOut = m_pSocket;
}

void CClientObject::Send(IMessage* pMessage)
{
    CAutoLock lock(m_clientLock);
    CRefPtr<IMessagingSocket> pSocket = m_pSocket;
    if (pSocket && m_pSendQueue)
        m_pSendQueue->QueueSend(pSocket.Get(), pMessage);
}

void CClientObject::SendRequest(CRequestMessage* pRequest, CRefPtr<CByteBuffer>& pOut,
                                int iTimeoutMs)
{
    if (!pRequest || pRequest->GetKind() != MESSAGE_KIND_REQUEST)
        return;
    CRefPtr<CRequestMessage> hold(pRequest);
    IInboundSink* pSink = nullptr;
    {
        // The lock covers the registration and the queueing only: registered before it is
        // queued for sending, so the dispatch thread knows the request before any response to
        // it can arrive, and the bytes go out in the order the threads took the lock.
        CAutoLock lock(m_clientLock);
        pSink = m_pInboundSink;
        if (!pSink)
            return;
        {
            std::lock_guard<std::mutex> waitLock(m_waitMutex);
            if (m_bAbandoned)
                return;
            m_waiting.emplace_back(pRequest);
        }
        pSink->AddPendingRequest(pRequest, this);
        Send(pRequest);
    }
    pRequest->WaitForResponse(pOut, iTimeoutMs);
    pSink->RemovePendingRequest(pRequest, this);
    {
        std::lock_guard<std::mutex> waitLock(m_waitMutex);
        std::erase(m_waiting, hold);
    }
    m_drained.notify_all();
}

void CClientObject::AllowRequests()
{
    std::lock_guard<std::mutex> waitLock(m_waitMutex);
    m_bAbandoned = false;
}

void CClientObject::AbandonRequests()
{
    std::lock_guard<std::mutex> waitLock(m_waitMutex);
    m_bAbandoned = true;
    for (const auto& pRequest : m_waiting)
        pRequest->Abandon();
}

namespace
{
// How deep this thread is in listener calls of AfterAttach: a listener that sets the listener
// from its own call must not wait for that call to end.
thread_local int t_iListenerCallDepth = 0;
} // namespace

void CClientEndpoint::SetListener(IClientListener* pListener)
{
    {
        CAutoLock lock(m_endpointLock);
        m_pListener = pListener;
    }
    // A call to the old listener already under way on another thread ends before its owner may
    // let it go.
    if (t_iListenerCallDepth == 0)
    {
        std::unique_lock<std::mutex> calls(m_callMutex);
        m_callsDone.wait(calls, [this] { return m_iCallsInFlight == 0; });
    }
}

void CClientEndpoint::Deliver(CByteBuffer* pBuffer)
{
    CAutoLock lock(m_endpointLock);
    if (m_pListener)
        m_pListener->OnMessage(pBuffer);
}

void CClientEndpoint::OnConnected()
{
    CRefPtr<CRegistrationMessage> pRegistration;
    MakeRegistrationMessage(pRegistration, 1);
    if (pRegistration)
        Send(pRegistration.Get());
}

// The listener is called without the endpoint lock: it may connect again from here, which takes
// the manager lock. The service client joins every thread that calls here before it goes away.
void CClientEndpoint::AfterAttach(bool bConnected)
{
    IClientListener* pListener = nullptr;
    {
        CAutoLock lock(m_endpointLock);
        pListener = m_pListener;
        if (!pListener)
            return;
        std::lock_guard<std::mutex> calls(m_callMutex);
        ++m_iCallsInFlight;
    }
    ++t_iListenerCallDepth;
    if (bConnected)
        pListener->OnConnected();
    else
        pListener->OnDisconnected();
    --t_iListenerCallDepth;
    {
        std::lock_guard<std::mutex> calls(m_callMutex);
        --m_iCallsInFlight;
    }
    m_callsDone.notify_all();
}

void MakeClientEndpoint(CRefPtr<CClientEndpoint>& pOut, IClientListener* pListener)
{
    pOut = new (std::nothrow) CClientEndpoint(pListener);
}
