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
#include <optional>
#include <string>
#include <vector>

// One lock per change: a change reads the receiver, writes it back, logs it and queues its event
// under m_mutex, so that two changes of one receiver never lose each other and their events leave
// in the order in which they were made. Under m_mutex it calls the log's Write and the
// broadcaster (which queues a message for each registered client), nothing else.
class CSimulatedReceivers
{
public:
    // Sends a message to every registered client; called under the receivers' lock.
    using Broadcaster = std::function<void(IMessage*)>;
    CSimulatedReceivers(const std::vector<SimulatedReceiver>& initial, CServiceLog& log,
                        Broadcaster broadcast);

    void Set(uint32_t iId, uint32_t iState, const std::u16string& name);
    // False when there is no such receiver.
    bool SetState(uint32_t iId, uint32_t iState);
    bool Rename(uint32_t iId, const std::u16string& name);
    // Renames the receiver iId, or every receiver when iId is 0.
    void RenameAll(uint32_t iId, const std::u16string& name);

    // Hands the list of every receiver to send, under the lock: a client that send marks as
    // registered gets every later change as an event after the list, and no earlier one.
    void SendList(const std::function<void(IMessage*)>& send);
    // One line a receiver: "receiver ID<TAB>STATE<TAB>NAME".
    std::string Describe();

private:
    // Under m_mutex: the change of one receiver, from what it is now; false when there is no such
    // receiver and it must exist.
    bool Change(uint32_t iId, std::optional<uint32_t> state, const std::u16string* pName);

    CServiceLog& m_log;
    Broadcaster m_broadcast;
    std::mutex m_mutex; // guards m_receivers
    std::map<uint32_t, SimulatedReceiver> m_receivers;
};
