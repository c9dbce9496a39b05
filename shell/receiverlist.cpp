// SPDX-License-Identifier: MIT
// Receiver entries and list items.

#include "receiverlist.h"

std::u16string ReceiverLabel(uint32_t iReceiverID, const std::u16string& name)
{
    const std::string id = std::to_string(iReceiverID);
    return std::u16string(id.begin(), id.end()) + u" \u00b7 " + name;
}

void CReceiverList::SetReceiverEntry(uint32_t iReceiverID, uint32_t iState,
                                     const std::u16string& name)
{
    const ReceiverEntry entry{name, iState, iReceiverID};
    const auto [it, bNew] = m_entryIndex.try_emplace(iReceiverID, m_entries.size());
    const bool bRenamed = !bNew && m_entries[it->second].name != name;
    if (bNew)
        m_entries.push_back(entry);
    else
        m_entries[it->second] = entry;
    m_iRenamedItem = -1;
    UpdateReceiver(static_cast<int32_t>(iReceiverID));
    // Only a rename walks the items, to show the new name where the receiver is listed.
    for (size_t i = 0; bRenamed && iState != STATE_GONE && i < m_items.size(); ++i)
        if (m_items[i].iData == iReceiverID && m_items[i].text != name)
        {
            m_items[i].text = name;
            m_iRenamedItem = static_cast<int>(i);
        }
}

void CReceiverList::ClearReceivers()
{
    m_entries.clear();
    m_entryIndex.clear();
    m_items.clear();
    m_itemCount.clear();
    m_iSelection = NO_SELECTION;
}

const ReceiverEntry* CReceiverList::FindEntry(uint32_t iReceiverID) const
{
    const auto it = m_entryIndex.find(iReceiverID);
    return it == m_entryIndex.end() ? nullptr : &m_entries[it->second];
}

bool CReceiverList::UpdateReceiver(int32_t iReceiverID)
{
    if (!m_bListReady)
        return false;
    if (iReceiverID < 0)
    {
        m_items.clear();
        m_itemCount.clear();
        m_iSelection = NO_SELECTION;
        for (const ReceiverEntry& e : m_entries)
        {
            m_items.push_back({e.name, e.iReceiverID});
            ++m_itemCount[e.iReceiverID];
        }
    }
    else
    {
        const auto id = static_cast<uint32_t>(iReceiverID);
        const ReceiverEntry* pEntry = FindEntry(id);
        if (!pEntry)
            return false;
        const auto counted = m_itemCount.find(id);
        const bool bFound = counted != m_itemCount.end() && counted->second > 0;
        if (!bFound && pEntry->iState != STATE_GONE)
        {
            m_items.push_back({pEntry->name, id});
            ++m_itemCount[id];
        }
        // Only a receiver that went and is shown needs a walk over the items, to take it out.
        for (size_t i = 0; bFound && pEntry->iState == STATE_GONE && i < m_items.size();)
        {
            if (m_items[i].iData != id)
            {
                ++i;
                continue;
            }
            m_items.erase(m_items.begin() + static_cast<long>(i));
            m_itemCount.erase(id);
            const int index = static_cast<int>(i);
            if (m_iSelection == index)
                m_iSelection = NO_SELECTION;
            else if (m_iSelection > index)
                --m_iSelection;
        }
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
