// SPDX-License-Identifier: MIT
// A client listener that records what the messaging library delivers to it: the messages,
// connects and disconnects, and the receiver records among them.
#pragma once

#include "clientobject.h"
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
