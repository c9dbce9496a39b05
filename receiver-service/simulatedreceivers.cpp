// SPDX-License-Identifier: MIT
// The simulated receivers of the stand-in service.

#include "simulatedreceivers.h"
#include "catalogue.h"
#include "wire.h"

namespace
{
std::string Utf8(const std::u16string& text)
{
    std::string out;
    Utf16ToUtf8(text, out);
    return out;
}
} // namespace

CSimulatedReceivers::CSimulatedReceivers(const std::vector<SimulatedReceiver>& initial,
                                         CServiceLog& log, Broadcaster broadcast)
    : m_log(log), m_broadcast(std::move(broadcast))
{
    for (const SimulatedReceiver& r : initial)
        m_receivers[r.iId] = r;
}

void CSimulatedReceivers::Set(uint32_t iId, uint32_t iState, const std::u16string& name)
{
    ReceiverRecord record = MakeReceiverRecord(iId, iState, name);
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (iState == RECEIVER_GONE)
            m_receivers.erase(iId);
        else
            m_receivers[iId] = SimulatedReceiver{iId, iState, std::u16string(record.szName)};
    }
    m_log.Write(LOG_VERBOSE, "Receiver " + std::to_string(iId) + " \"" + Utf8(record.szName) +
                                 "\" state " + std::to_string(iState) +
                                 (iState == RECEIVER_GONE ? " (gone)" : ""));
    CRefPtr<CReceiverListMessage> pStatus;
    MakeReceiverListMessage(pStatus, ReceiverStatusEvent, &record, 1);
    m_broadcast(pStatus.Get());
}

bool CSimulatedReceivers::SetState(uint32_t iId, uint32_t iState)
{
    std::u16string name;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        const auto it = m_receivers.find(iId);
        if (it == m_receivers.end())
            return false;
        name = it->second.name;
    }
    Set(iId, iState, name);
    return true;
}

bool CSimulatedReceivers::Rename(uint32_t iId, const std::u16string& name)
{
    uint32_t iState = 0;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        const auto it = m_receivers.find(iId);
        if (it == m_receivers.end())
            return false;
        iState = it->second.iState;
    }
    Set(iId, iState, name);
    return true;
}

void CSimulatedReceivers::RenameAll(uint32_t iId, const std::u16string& name)
{
    std::vector<uint32_t> ids;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        for (const auto& [id, r] : m_receivers)
            if (iId == 0 || id == iId)
                ids.push_back(id);
    }
    for (uint32_t id : ids)
        Rename(id, name);
}

std::vector<ReceiverRecord> CSimulatedReceivers::Records()
{
    std::vector<ReceiverRecord> records;
    std::lock_guard<std::mutex> g(m_mutex);
    for (const auto& [id, r] : m_receivers)
        records.push_back(MakeReceiverRecord(r.iId, r.iState, r.name));
    return records;
}

std::string CSimulatedReceivers::Describe()
{
    std::string out;
    std::lock_guard<std::mutex> g(m_mutex);
    for (const auto& [id, r] : m_receivers)
        out += "receiver " + std::to_string(id) + "\t" + std::to_string(r.iState) + "\t" +
               Utf8(r.name) + "\n";
    return out;
}
