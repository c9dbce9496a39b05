// SPDX-License-Identifier: MIT
// The receivers list's bookkeeping: entries, items, selection.

#include "receiverlist.h"

#include <gtest/gtest.h>

#include <tuple>

namespace
{
using Items_t = std::vector<std::pair<uint32_t, std::u16string>>;

Items_t Items(const CReceiverList& list)
{
    Items_t items;
    for (const auto& item : list.GetItems())
        items.emplace_back(item.iData, item.text);
    return items;
}

// A rename and a receiver that goes are in the window's connection test.
TEST(ReceiverList, ItemsFollowTheReportedRecords)
{
    const struct
    {
        const char* name;
        std::vector<std::tuple<uint32_t, uint32_t, const char16_t*>> steps; // id, state, name
        Items_t items;
        int selection;
    } cases[] = {
        {"renamed while gone comes back renamed",
         {{7, 1, u"R1"}, {7, 2, u"Old"}, {7, 1, u"New"}},
         {{7, u"New"}},
         0},
        {"gone and never listed", {{9, 2, u"X"}}, {}, CReceiverList::NO_SELECTION},
        {"back again at the end",
         {{7, 1, u"R1"}, {8, 1, u"R2"}, {7, 2, u"R1"}, {7, 3, u"R1b"}},
         {{8, u"R2"}, {7, u"R1b"}},
         0},
        {"state change keeps the item", {{7, 1, u"R1"}, {7, 5, u"R1"}}, {{7, u"R1"}}, 0},
    };
    for (const auto& c : cases)
    {
        CReceiverList list;
        for (const auto& [id, state, name] : c.steps)
            list.SetReceiverEntry(id, state, name);
        EXPECT_EQ(Items(list), c.items) << c.name;
        EXPECT_EQ(list.GetSelection(), c.selection) << c.name;
    }
}

TEST(ReceiverList, SelectionMovesToTheFirstWhenTheSelectedOneGoes)
{
    CReceiverList list;
    list.SetReceiverEntry(1, 1, u"A");
    list.SetReceiverEntry(2, 1, u"B");
    list.SetReceiverEntry(3, 1, u"C");
    list.SetSelection(1);
    uint32_t id = 0;
    ASSERT_TRUE(list.GetSelectedReceiver(id));
    EXPECT_EQ(id, 2u); // the identifier, not the position
    list.SetReceiverEntry(2, 2, u"B");
    EXPECT_EQ(list.GetSelection(), 0);
    list.SetSelection(1);
    list.SetReceiverEntry(1, 2, u"A"); // an item before the selection goes: the selection follows
    ASSERT_TRUE(list.GetSelectedReceiver(id));
    EXPECT_EQ(id, 3u);
}

TEST(ReceiverList, RebuildListsEveryEntryAndClearingEmptiesAll)
{
    CReceiverList list;
    list.SetListReady(false);
    list.SetReceiverEntry(1, 1, u"A");
    list.SetReceiverEntry(2, 2, u"Gone");
    list.SetReceiverEntry(1, 1, u"A2");
    EXPECT_TRUE(list.GetItems().empty()); // no list yet: only the entries change
    list.SetListReady(true);
    list.UpdateReceiver(-1);
    EXPECT_EQ(Items(list), (Items_t{{1, u"A2"}, {2, u"Gone"}}));
    EXPECT_FALSE(list.UpdateReceiver(77));
    list.ClearReceivers();
    EXPECT_TRUE(list.GetItems().empty());
    EXPECT_TRUE(list.GetEntries().empty());
    uint32_t id = 0;
    EXPECT_FALSE(list.GetSelectedReceiver(id));
    // Listed again after the clear, as new receivers.
    list.SetReceiverEntry(2, 1, u"B");
    list.SetReceiverEntry(1, 1, u"A3");
    EXPECT_EQ(Items(list), (Items_t{{2, u"B"}, {1, u"A3"}}));
    ASSERT_EQ(list.GetEntries().size(), 2u);
    EXPECT_EQ(list.FindEntry(1)->name, u"A3");
}
} // namespace
