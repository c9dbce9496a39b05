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
            CAutoLock waitLock(m_waitLock);
            m_bAbandoned = false;
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
    CAutoLock lock(m_clientLock);
    if (!m_pInboundSink || !pRequest || pRequest->GetKind() != MESSAGE_KIND_REQUEST)
        return;
    CRefPtr<CRequestMessage> hold(pRequest);
    {
        CAutoLock waitLock(m_waitLock);
        if (m_bAbandoned)
            return;
        m_pWaiting = pRequest;
    }
    // Registered before it is queued for sending, so the dispatch thread knows the request
    // before any response to it can arrive.
    m_pInboundSink->AddPendingRequest(pRequest, this);
    Send(pRequest);
    pRequest->WaitForResponse(pOut, iTimeoutMs);
    m_pInboundSink->RemovePendingRequest(pRequest, this);
    CAutoLock waitLock(m_waitLock);
    m_pWaiting.Reset();
}

void CClientObject::AllowRequests()
{
    CAutoLock waitLock(m_waitLock);
    m_bAbandoned = false;
}

void CClientObject::AbandonRequests()
{
    CAutoLock waitLock(m_waitLock);
    m_bAbandoned = true;
    if (m_pWaiting)
        m_pWaiting->Abandon();
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
