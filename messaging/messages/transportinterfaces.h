// SPDX-License-Identifier: MIT
// What client objects and the transport see of each other: the dispatch thread's inbound sink,
// an I/O thread's send queue and the messaging socket of one connection.
#pragma once

#include "bytebuffer.h"
#include "refcounted.h"

#include <cstdint>

class CClientObject;
class CEvent;
class CNetworkEvent;
class CRequestMessage;
class IMessage;

class IMessagingSocket;

// Implemented by the dispatch thread: every call queues a command that runs there, in call order
// for one client.
class IInboundSink
{
public:
    virtual ~IInboundSink() = default;
    // Queues a message that pClient's connection pFrom received. Returns false when the
    // connection now holds its share of queued messages: pFrom has been told to read no more
    // (SetReadingPaused) until enough of them have been handled.
    virtual bool QueueInbound(CClientObject* pClient, CByteBuffer* pBuffer,
                              IMessagingSocket* pFrom) = 0;
    virtual void QueueDisconnect(CClientObject* pClient) = 0;
    // pClient is the requester: its request's registration and removal keep their order with
    // what its connection receives.
    virtual void AddPendingRequest(CRequestMessage* pRequest, CClientObject* pClient) = 0;
    virtual void RemovePendingRequest(CRequestMessage* pRequest, CClientObject* pClient) = 0;
};

// Implemented by an I/O thread: serialises the message on the caller's thread and queues it.
class ISendQueue
{
public:
    virtual ~ISendQueue() = default;
    virtual void QueueSend(IMessagingSocket* pSocket, IMessage* pMessage) = 0;
};

// One framed connection. The connection manager and its I/O thread drive it; client objects only
// hold it and hand it back to the send queue.
class IMessagingSocket : public virtual CRefCounted
{
public:
    virtual void SetClient(CClientObject* pClient) = 0;
    virtual void SetListener(IInboundSink* pListener) = 0;
    virtual CNetworkEvent* GetNetworkEvent() = 0;
    // The socket as a pointer-sized integer (a descriptor or a Winsock SOCKET); -1 for none.
    virtual intptr_t GetSocketHandle() = 0;
    virtual void OnReadable() = 0;
    virtual void Send(CByteBuffer* pBuffer) = 0;
    virtual void OnClosed() = 0;
    // When the frame being read must be whole (steady-clock ms), 0 when none is begun.
    virtual int64_t GetFrameDeadline() const { return 0; }
    // Reading stops while the dispatch thread holds this connection's share of received
    // messages: the serving I/O thread leaves the socket out of its wait meanwhile, and is woken
    // through the event it gave (SetServingThreadEvent) when that changes.
    virtual void SetReadingPaused(bool /*bPaused*/) {}
    virtual bool IsReadingPaused() const { return false; }
    virtual void SetServingThreadEvent(CEvent* /*pWake*/) {}
    // Once its connection is closed, what is still sent to it is dropped without a word.
    virtual bool IsClosed() const { return false; }
    virtual bool ReadFully(uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) = 0;
    virtual bool WriteFully(const uint8_t* pBuffer, int32_t iLength, int iTimeoutMs) = 0;
};
