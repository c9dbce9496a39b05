// SPDX-License-Identifier: MIT
// Client object: what application code talks through over one connection. It sends one-way
// messages, makes request/response exchanges, and receives what the dispatch thread delivers.
#pragma once

#include "message.h"
#include "sync.h"
#include "transportinterfaces.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

// The connection manager attaches it to a messaging socket and detaches it (three nulls).
// m_clientLock guards the three connection fields. A request holds it only while it registers
// and queues its bytes, and waits for its answer outside it: requests from several threads wait
// side by side, and a one-way Send never waits behind an exchange. Under it the object calls
// the send queue's QueueSend, the inbound sink's AddPendingRequest and its own OnConnected and
// OnDisconnected; m_waitMutex guards the list of waiting requests.
class CClientObject : public virtual CRefCounted
{
public:
    CClientObject() = default;
    ~CClientObject() override = default;

    // Stores the three under the client lock, then, still under it, OnConnected or OnDisconnected;
    // then, with the client lock released, AfterAttach.
    virtual void Attach(ISendQueue* pSendQueue, IInboundSink* pSink, IMessagingSocket* pSocket);
    // Needs no lock, so the user interface may ask during an exchange.
    virtual bool IsConnected() const { return m_bConnected.load(); }
    virtual void GetSocket(CRefPtr<IMessagingSocket>& pOut);
    // Drops the message silently while not connected.
    virtual void Send(IMessage* pMessage);
    // Sends a request and waits up to iTimeoutMs for its response. Not connected, or not a
    // request: returns at once with pOut untouched. A time-out leaves pOut empty.
    virtual void SendRequest(CRequestMessage* pRequest, CRefPtr<CByteBuffer>& pOut, int iTimeoutMs);
    // The connection is going: every request waiting for its response stops waiting now, and
    // none waits until the next Attach. Needs no client lock.
    void AbandonRequests();
    // Lets requests wait again after AbandonRequests (a new Attach does so as well).
    void AllowRequests();
    // Called on the dispatch thread for every received message that answers no request.
    virtual void Deliver(CByteBuffer* pBuffer) = 0;
    virtual void OnConnected() {}
    virtual void OnDisconnected() {}
    // Runs after every Attach without the client lock: the place to tell others, who may connect
    // again from there (a connection takes the manager lock before the client lock, so nothing
    // that connects may run under the client lock).
    virtual void AfterAttach(bool /*bConnected*/) {}

private:
    CCriticalSection m_clientLock;
    CRefPtr<IMessagingSocket> m_pSocket;
    ISendQueue* m_pSendQueue = nullptr;
    IInboundSink* m_pInboundSink = nullptr;
    std::atomic<bool> m_bConnected{false};
    // Guards the three below; innermost. A detach abandons the waiting requests and then waits
    // for m_waiting to drain, so no waiter touches the inbound sink of a connection that is gone
    // (the manager that owns it may go next).
    std::mutex m_waitMutex;
    std::condition_variable m_drained;
    std::vector<CRefPtr<CRequestMessage>> m_waiting;
    bool m_bAbandoned = false;
};

class IClientListener
{
public:
    virtual ~IClientListener() = default;
    virtual void OnMessage(CByteBuffer* pBuffer) = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
};

// The service client's endpoint: registers with the service on every new connection and passes
// what arrives to its listener. The listener pointer has its own lock, so deliveries and the
// listener's detaching never wait for an exchange in progress; connection changes reach the
// listener outside every lock (see AfterAttach). Under m_endpointLock it calls the listener's
// OnMessage only; m_callMutex guards the count of listener calls under way.
class CClientEndpoint : public CClientObject
{
public:
    explicit CClientEndpoint(IClientListener* pListener) : m_pListener(pListener) {}

    // Once it returns, the old listener is called no more: a connection change that was being
    // reported to it on another thread has finished.
    void SetListener(IClientListener* pListener);
    void Deliver(CByteBuffer* pBuffer) override;
    // Sends the registration message (identifier 1) under the client lock, so that it goes out
    // before anything another thread sends on the new connection.
    void OnConnected() override;
    // Tells the listener, after the registration went out.
    void AfterAttach(bool bConnected) override;

private:
    CCriticalSection m_endpointLock;
    IClientListener* m_pListener;
    std::mutex m_callMutex; // guards m_iCallsInFlight
    std::condition_variable m_callsDone;
    int m_iCallsInFlight = 0; // listener calls of AfterAttach under way
};

void MakeClientEndpoint(CRefPtr<CClientEndpoint>& pOut, IClientListener* pListener);
