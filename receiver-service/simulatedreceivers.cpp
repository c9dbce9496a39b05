// SPDX-License-Identifier: MIT
// The simulated receivers of the stand-in service.

#include "simulatedreceivers.h"
#include "catalogue.h"
#include "wire.h"

CSimulatedReceivers::CSimulatedReceivers(const std::vector<SimulatedReceiver>& initial,
                                         CServiceLog& log, Broadcaster broadcast)
    : m_log(log), m_broadcast(std::move(broadcast))
{
    for (const SimulatedReceiver& r : initial)
        m_receivers[r.iId] = r;
}

bool CSimulatedReceivers::Change(uint32_t iId, std::optional<uint32_t> state,
                                 const std::u16string* pName)
{
    const auto it = m_receivers.find(iId);
    if (it == m_receivers.end() && (!state || !pName))
        return false;
    const uint32_t iState = state ? *state : it->second.iState;
    const ReceiverRecord record = MakeReceiverRecord(iId, iState, pName ? *pName : it->second.name);
    if (iState == RECEIVER_GONE)
        m_receivers.erase(iId);
    else
        m_receivers[iId] = SimulatedReceiver{iId, iState, std::u16string(record.szName)};
    m_log.Write(LOG_VERBOSE, "Receiver " + std::to_string(iId) + " \"" + ToUtf8(record.szName) +
                                 "\" state " + std::to_string(iState) +
                                 (iState == RECEIVER_GONE ? " (gone)" : ""));
    CRefPtr<CReceiverListMessage> pStatus;
    MakeReceiverListMessage(pStatus, ReceiverStatusEvent, &record, 1);
    m_broadcast(pStatus.Get());
    return true;
}

void CSimulatedReceivers::Set(uint32_t iId, uint32_t iState, const std::u16string& name)
{
    std::lock_guard<std::mutex> g(m_mutex);
    Change(iId, iState, &name);
}

bool CSimulatedReceivers::SetState(uint32_t iId, uint32_t iState)
{
    std::lock_guard<std::mutex> g(m_mutex);
    return Change(iId, iState, nullptr);
}

bool CSimulatedReceivers::Rename(uint32_t iId, const std::u16string& name)
{
    std::lock_guard<std::mutex> g(m_mutex);
    return Change(iId, std::nullopt, &name);
}

void CSimulatedReceivers::RenameAll(uint32_t iId, const std::u16string& name)
{
    std::lock_guard<std::mutex> g(m_mutex);
    std::vector<uint32_t> ids;
    for (const auto& [id, r] : m_receivers)
        if (iId == 0 || id == iId)
            ids.push_back(id);
    for (uint32_t id : ids)
        Change(id, std::nullopt, &name);
}

void CSimulatedReceivers::SendList(const std::function<void(IMessage*)>& send)
{
    std::lock_guard<std::mutex> g(m_mutex);
    std::vector<ReceiverRecord> records;
    for (const auto& [id, r] : m_receivers)
        records.push_back(MakeReceiverRecord(r.iId, r.iState, r.name));
    CRefPtr<CReceiverListMessage> pList;
    MakeReceiverListMessage(pList, ReceiverStatusEvent, records.data(),
                            static_cast<int32_t>(records.size()));
    send(pList.Get());
}

std::string CSimulatedReceivers::Describe()
{
    std::string out;
    std::lock_guard<std::mutex> g(m_mutex);
    for (const auto& [id, r] : m_receivers)
        out += "receiver " + std::to_string(id) + "\t" + std::to_string(r.iState) + "\t" +
               ToUtf8(r.name) + "\n";
    return out;
}
