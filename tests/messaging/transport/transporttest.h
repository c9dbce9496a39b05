// SPDX-License-Identifier: MIT
// Fixtures shared by the transport tests: a connected loopback pair, a sink that records what a
// messaging socket hands on, and a client object that records what is delivered to it.
#pragma once

#include "clientobject.h"
#include "exceptions.h"
#include "messagingsocket.h"
#include "recordinglistener.h"
#include "testpeer.h"

#include <gtest/gtest.h>

// The error code of what the call throws; 0 when it returns.
inline int ErrorOf(const std::function<void()>& call)
{
    try
    {
        call();
    }
    catch (CExceptionBase& error)
    {
        return error.GetErrorCode();
    }
    return 0;
}

// Records what is delivered to it as a client's listener records it.
class CRecordingClient : public CClientObject, public CRecordingListener
{
public:
    void Deliver(CByteBuffer* pBuffer) override { OnMessage(pBuffer); }
    void OnConnected() override { ++connects; }
    void OnDisconnected() override { ++disconnects; }
};

class CRecordingSink : public IInboundSink
{
public:
    bool QueueInbound(CClientObject*, CByteBuffer* pBuffer, IMessagingSocket*) override
    {
        std::lock_guard<std::mutex> g(m_mutex);
        inbound.emplace_back(pBuffer->Data(), pBuffer->Data() + pBuffer->GetSize());
        return true;
    }
    void QueueDisconnect(CClientObject*) override {}
    void AddPendingRequest(CRequestMessage*, CClientObject*) override {}
    void RemovePendingRequest(CRequestMessage*, CClientObject*) override {}
    size_t InboundCount()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return inbound.size();
    }

    std::mutex m_mutex;
    std::vector<ByteVector> inbound;
};

// A messaging socket connected to a raw accepted socket on 127.0.0.1, with a recording sink.
struct CLoopbackPair
{
    using Make = std::function<CMessagingSocket*(CStreamSocket*)>;
    explicit CLoopbackPair(const Make& make = [](CStreamSocket* p)
                           { return new CMessagingSocket(p); })
    {
        uint16_t port = 0;
        listenFd = ListenOnLoopback(port);
        auto* pSocket = new CStreamSocket(true);
        pSocket->Connect("127.0.0.1", port);
        peerFd = AcceptRaw(listenFd);
        messaging = make(pSocket);
        messaging->SetListener(&sink);
        messaging->SetClient(client.Get());
    }
    ~CLoopbackPair()
    {
        messaging->SetClient(nullptr);
        messaging.Reset();
        CloseRaw(peerFd);
        CloseRaw(listenFd);
    }
    bool PeerSend(const ByteVector& bytes) { return WriteAll(peerFd, bytes.data(), bytes.size()); }
    bool WaitReadable(int iTimeoutMs = 5000)
    {
        CWaitHandle* handles[1] = {messaging->GetNetworkEvent()};
        return WaitForHandles(handles, 1, iTimeoutMs) == 0 &&
               (messaging->GetNetworkEvent()->Enumerate() & SOCKET_EVENT_READ);
    }

    // Serves the socket's events as an I/O thread would, until the condition holds or 5 s pass.
    void Pump(const std::function<bool()>& done)
    {
        CWaitHandle* handles[1] = {messaging->GetNetworkEvent()};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < deadline)
        {
            if (WaitForHandles(handles, 1, 20) != 0)
                continue;
            const uint8_t events = messaging->GetNetworkEvent()->Enumerate();
            if (events & (SOCKET_EVENT_CLOSE | SOCKET_EVENT_ERROR))
                break;
            if (events & SOCKET_EVENT_READ)
                messaging->OnReadable();
            if (events & SOCKET_EVENT_WRITE)
                messaging->Send(nullptr);
        }
    }

    RawSocket listenFd = NO_RAW_SOCKET;
    RawSocket peerFd = NO_RAW_SOCKET;
    CRecordingSink sink;
    CRefPtr<CRecordingClient> client{new CRecordingClient};
    CRefPtr<CMessagingSocket> messaging;
};
