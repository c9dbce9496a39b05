// SPDX-License-Identifier: MIT
// Receiver entries and list items.

#include "receiverlist.h"

void CReceiverList::SetReceiverEntry(uint32_t iReceiverID, uint32_t iState,
                                     const std::u16string& name)
{
    const ReceiverEntry entry{name, iState, iReceiverID};
    bool bMatched = false;
    for (ReceiverEntry& e : m_entries)
        if (e.iReceiverID == iReceiverID)
        {
            e = entry;
            bMatched = true;
        }
    if (!bMatched)
        m_entries.push_back(entry);
    UpdateReceiver(static_cast<int32_t>(iReceiverID));
}

void CReceiverList::ClearReceivers()
{
    m_entries.clear();
    m_items.clear();
    m_iSelection = NO_SELECTION;
}

bool CReceiverList::UpdateReceiver(int32_t iReceiverID)
{
    if (!m_bListReady)
        return false;
    if (iReceiverID < 0)
    {
        m_items.clear();
        m_iSelection = NO_SELECTION;
        for (const ReceiverEntry& e : m_entries)
            m_items.push_back({e.name, e.iReceiverID});
    }
    else
    {
        const auto id = static_cast<uint32_t>(iReceiverID);
        const ReceiverEntry* pEntry = nullptr;
        for (const ReceiverEntry& e : m_entries)
            if (e.iReceiverID == id)
            {
                pEntry = &e;
                break;
            }
        if (!pEntry)
            return false;
        bool bFound = false;
        for (size_t i = 0; i < m_items.size();)
        {
            if (m_items[i].iData != id)
            {
                ++i;
                continue;
            }
            bFound = true;
            if (pEntry->iState != STATE_GONE)
            {
                ++i;
                continue;
            }
            m_items.erase(m_items.begin() + static_cast<long>(i));
            const int index = static_cast<int>(i);
            if (m_iSelection == index)
                m_iSelection = NO_SELECTION;
            else if (m_iSelection > index)
                --m_iSelection;
        }
        if (!bFound && pEntry->iState != STATE_GONE)
            m_items.push_back({pEntry->name, id});
    }
    if (m_iSelection == NO_SELECTION && !m_items.empty())
        m_iSelection = 0;
    return true;
}

bool CReceiverList::GetSelectedReceiver(uint32_t& iReceiverID) const
{
    if (m_iSelection < 0 || m_iSelection >= static_cast<int>(m_items.size()))
        return false;
    iReceiverID = m_items[static_cast<size_t>(m_iSelection)].iData;
    return true;
}
