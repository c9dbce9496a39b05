// SPDX-License-Identifier: MIT
// The receivers list's bookkeeping: one entry per receiver identifier reported since the last
// disconnection, and the list items shown for them. The receivers toolbar draws the items;
// zelbinctl prints them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct ReceiverEntry
{
    std::u16string name;
    uint32_t iState;
    uint32_t iReceiverID;
};

// What the window shows for a receiver: its identifier with its name ("7 \u00b7 Room 7"), so
// that two receivers of one name are told apart.
std::u16string ReceiverLabel(uint32_t iReceiverID, const std::u16string& name);

struct ReceiverItem
{
    std::u16string text;
    uint32_t iData; // the receiver identifier, never the position
};

class CReceiverList
{
public:
    static constexpr uint32_t STATE_GONE = 2;
    static constexpr int NO_SELECTION = -1;

    // One record of a status event: overwrite the entry with this identifier (or append one),
    // then bring the items in line.
    void SetReceiverEntry(uint32_t iReceiverID, uint32_t iState, const std::u16string& name);
    // Forget every entry and every item (the connection was lost).
    void ClearReceivers();
    // A negative identifier rebuilds every item from the entries (gone ones included); another
    // updates the items of that identifier, a new name included. Selects the first item when
    // nothing is selected.
    bool UpdateReceiver(int32_t iReceiverID);
    // The item whose text the last record changed (a rename), or -1.
    int GetRenamedItem() const { return m_iRenamedItem; }

    const std::vector<ReceiverEntry>& GetEntries() const { return m_entries; }
    const std::vector<ReceiverItem>& GetItems() const { return m_items; }
    int GetSelection() const { return m_iSelection; }
    void SetSelection(int iIndex)
    {
        m_iSelection =
            iIndex >= 0 && iIndex < static_cast<int>(m_items.size()) ? iIndex : NO_SELECTION;
    }
    // The entry of this identifier, or null.
    const ReceiverEntry* FindEntry(uint32_t iReceiverID) const;
    // The selected item's receiver identifier, if an item is selected.
    bool GetSelectedReceiver(uint32_t& iReceiverID) const;

    // Whether items exist yet (the toolbar's list window); before that only entries change.
    void SetListReady(bool bReady) { m_bListReady = bReady; }

private:
    // Thousands of receivers arrive one record at a time: an identifier is found through a map,
    // never by a walk over every entry.
    std::vector<ReceiverEntry> m_entries;
    std::unordered_map<uint32_t, size_t> m_entryIndex; // identifier -> position in m_entries
    std::vector<ReceiverItem> m_items;
    std::unordered_map<uint32_t, size_t> m_itemCount; // identifier -> items that show it
    int m_iSelection = NO_SELECTION;
    int m_iRenamedItem = -1;
    bool m_bListReady = true;
};
