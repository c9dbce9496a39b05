// SPDX-License-Identifier: MIT
// The stand-in's simulated receivers: they appear, change state, are renamed and go; every change
// is written to the log and reported to the registered clients as a receiver status event.
#pragma once

#include "message.h"
#include "servicelog.h"
#include "serviceoptions.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CSimulatedReceivers
{
public:
    // Sends a message to every registered client.
    using Broadcaster = std::function<void(IMessage*)>;
    CSimulatedReceivers(const std::vector<SimulatedReceiver>& initial, CServiceLog& log,
                        Broadcaster broadcast);

    void Set(uint32_t iId, uint32_t iState, const std::u16string& name);
    // False when there is no such receiver.
    bool SetState(uint32_t iId, uint32_t iState);
    bool Rename(uint32_t iId, const std::u16string& name);
    // Renames the receiver iId, or every receiver when iId is 0.
    void RenameAll(uint32_t iId, const std::u16string& name);

    // The records of every receiver, for a client that has just registered.
    std::vector<ReceiverRecord> Records();
    // One line a receiver: "receiver ID<TAB>STATE<TAB>NAME".
    std::string Describe();

private:
    CServiceLog& m_log;
    Broadcaster m_broadcast;
    std::mutex m_mutex; // guards m_receivers
    std::map<uint32_t, SimulatedReceiver> m_receivers;
};
