// SPDX-License-Identifier: MIT
// A client listener that records what the messaging library delivers (messages, connects,
// disconnects and the receiver records among them), and a client of the library it listens to.
#pragma once

#include "clientobject.h"
#include "connectionmanager.h"
#include "message.h"
#include "testutil.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

class CRecordingListener : public IClientListener
{
public:
    void OnMessage(CByteBuffer* pBuffer) override
    {
        std::lock_guard<std::mutex> g(mutex);
        messages.emplace_back(pBuffer->Data(), pBuffer->Data() + pBuffer->GetSize());
    }
    void OnConnected() override { ++connects; }
    void OnDisconnected() override { ++disconnects; }
    size_t Count()
    {
        std::lock_guard<std::mutex> g(mutex);
        return messages.size();
    }
    std::vector<std::vector<uint8_t>> Messages()
    {
        std::lock_guard<std::mutex> g(mutex);
        return messages;
    }
    size_t CountOf(uint32_t id)
    {
        std::lock_guard<std::mutex> g(mutex);
        return std::count_if(messages.begin(), messages.end(),
                             [&](const std::vector<uint8_t>& m)
                             { return PeekMessageID(BufferOf(m).Get()) == id; });
    }
    // Whether a status event received so far holds a record of this receiver.
    bool HasReceiver(uint32_t id)
    {
        std::lock_guard<std::mutex> g(mutex);
        for (const auto& m : messages)
        {
            CRefPtr<CReceiverListMessage> list =
                new CReceiverListMessage(ReceiverStatusEvent, nullptr, 0);
            const ReceiverRecord* p = nullptr;
            const int n = list->Deserialise(BufferOf(m).Get()) ? list->GetRecords(&p) : 0;
            if (std::any_of(p, p + n, [&](const ReceiverRecord& x) { return x.iReceiverID == id; }))
                return true;
        }
        return false;
    }

    std::mutex mutex;
    std::vector<std::vector<uint8_t>> messages;
    std::atomic<int> connects = 0;
    std::atomic<int> disconnects = 0;
};

// A client endpoint of its own connection manager, connected on loopback.
class CTestClient
{
public:
    CTestClient() { MakeClientEndpoint(endpoint, &listener); }
    ~CTestClient()
    {
        manager.DetachClient(endpoint.Get());
        endpoint->SetListener(nullptr);
    }
    bool Connect(uint16_t port, CClientObject* pClient = nullptr)
    {
        return manager.ConnectClientObject(pClient ? pClient : endpoint.Get(), "127.0.0.1", port,
                                           SERVICE_IDENTIFIER, true);
    }
    // The log mask the service answers (0 for no answer).
    uint32_t AskLogMask(CClientObject* pClient = nullptr, int iTimeoutMs = 10000)
    {
        CRefPtr<CEmptyRequest> request = new CEmptyRequest(GetLogMaskRequest, GetLogMaskResponse);
        CRefPtr<CByteBuffer> response;
        (pClient ? pClient : endpoint.Get())->SendRequest(request.Get(), response, iTimeoutMs);
        CRefPtr<CArgumentListResponse> reader =
            new CArgumentListResponse(GetLogMaskResponse, 0, nullptr);
        uint32_t mask = 0;
        if (reader->Deserialise(response.Get()))
            reader->GetArguments().Unpack(1, ARG_UINT32, &mask);
        return mask;
    }

    CConnectionManager manager;
    CRecordingListener listener;
    CRefPtr<CClientEndpoint> endpoint;
};
