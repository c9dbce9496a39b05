// SPDX-License-Identifier: MIT
// The stand-in's side of the protocol: it takes the registration, answers the requests, obeys
// the one-way messages (receiver commands, the log mask, clearing the log) and tells registered
// clients when its log has grown, about fifty times a second at most.
#pragma once

#include "servicelog.h"
#include "servicenetwork.h"
#include "servicetask.h"
#include "simulatedreceivers.h"

#include <atomic>
#include <memory>

class CServiceProtocol : public IServiceMessageHandler
{
public:
    // Starts the log notices.
    CServiceProtocol(CServiceLog& log, CServiceNetwork& network, CSimulatedReceivers& receivers);
    ~CServiceProtocol() override;

    void OnMessage(CServiceConnection* pConnection, CByteBuffer* pBuffer) override;
    // Sends no more log notices.
    void StopNotices();
    uint64_t GetReceiverCommandCount() const { return m_iReceiverCommands.load(); }

private:
    void HandleReceiverCommand(CServiceConnection* pConnection, CByteBuffer* pBuffer);
    void NotifyLogUpdated();

    CServiceLog& m_log;
    CServiceNetwork& m_network;
    CSimulatedReceivers& m_receivers;
    std::atomic<uint64_t> m_iReceiverCommands{0};
    CEvent m_logChanged; // set by every log write; the notifier turns it into events
    std::unique_ptr<CServiceTask> m_pNotifier;
};
