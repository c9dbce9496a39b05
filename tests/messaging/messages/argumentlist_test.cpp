// SPDX-License-Identifier: MIT
// Argument lists: packing, the typed read-out with its compatible pairs, and deep copies.

#include "argumentlist.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
std::string WireHex(const CArgumentList& list)
{
    std::vector<uint8_t> block(list.GetWireSize());
    CWriteCursor c{block.data(), block.data() + block.size()};
    list.Write(c);
    EXPECT_EQ(c.p, c.end);
    return Hex(block.data(), block.size());
}

// Codes 5 and 10 together are a row of the message encoding test.
TEST(ArgumentList, PackWritesEveryTypeCode)
{
    static const uint8_t BLOB[] = {0xAA, 0xBB};
    struct Case
    {
        const char* name;
        std::function<void(CArgumentList&)> pack;
        const char* expected;
    } cases[] = {
        // clang-format off
        {"uint8 low byte", [](CArgumentList& l) { l.Pack(1, ARG_UINT8, 0x1FF); }, "00 00 00 01 00 00 00 02 01 FF"},
        {"bool", [](CArgumentList& l) { l.Pack(1, ARG_BOOL, 2); }, "00 00 00 01 00 00 00 02 02 01"},
        {"char zero-extended", [](CArgumentList& l) { l.Pack(1, ARG_CHAR, char(0xE9)); }, "00 00 00 01 00 00 00 03 03 00 E9"},
        {"uint16", [](CArgumentList& l) { l.Pack(1, ARG_UINT16, 0x12345); }, "00 00 00 01 00 00 00 03 04 23 45"},
        {"float from double", [](CArgumentList& l) { l.Pack(1, ARG_FLOAT, 1.0); }, "00 00 00 01 00 00 00 05 06 3F 80 00 00"},
        {"double", [](CArgumentList& l) { l.Pack(1, ARG_DOUBLE, 1.0); }, "00 00 00 01 00 00 00 09 07 3F F0 00 00 00 00 00 00"},
        {"narrow", [](CArgumentList& l) { l.Pack(1, ARG_STRING, "hi"); }, "00 00 00 01 00 00 00 05 08 00 02 68 69"},
        {"null wide", [](CArgumentList& l) { l.Pack(1, ARG_WSTRING, nullptr); }, "00 00 00 01 00 00 00 03 0A 00 00"},
        {"empty wide", [](CArgumentList& l) { l.Pack(1, ARG_WSTRING, u""); }, "00 00 00 01 00 00 00 03 0A 00 00"},
        {"lone surrogate as empty", [](CArgumentList& l) { l.Pack(1, ARG_WSTRING, u"a\xD800"); }, "00 00 00 01 00 00 00 03 0A 00 00"},
        {"blob", [](CArgumentList& l) { l.Pack(1, ARG_BLOB, BLOB, 2u); }, "00 00 00 01 00 00 00 07 09 00 00 00 02 AA BB"},
        {"null blob as empty", [](CArgumentList& l) { l.Pack(1, ARG_BLOB, static_cast<const uint8_t*>(nullptr), 9u); }, "00 00 00 01 00 00 00 05 09 00 00 00 00"},
        {"wchar", [](CArgumentList& l) { l.Pack(1, ARG_WCHAR, u'\u20ac'); }, "00 00 00 01 00 00 00 03 0B 20 AC"},
        {"code 0 empties", [](CArgumentList& l) { l.Pack(2, ARG_UINT32, 1, 0, 5); }, "00 00 00 00"},
        {"code 12 empties", [](CArgumentList& l) { l.Pack(1, 12, 5); }, "00 00 00 00"},
        {"count 0", [](CArgumentList& l) { l.Pack(0, ARG_UINT32, 5); }, "00 00 00 00"},
        {"too few values", [](CArgumentList& l) { l.Pack(2, ARG_UINT32, 5); }, "00 00 00 00"},
        {"text for a number", [](CArgumentList& l) { l.Pack(1, ARG_UINT32, u"5"); }, "00 00 00 00"},
        {"number for text", [](CArgumentList& l) { l.Pack(1, ARG_WSTRING, 5); }, "00 00 00 00"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        CArgumentList list;
        list.Pack(1, ARG_UINT8, 9); // Pack starts from an empty list
        c.pack(list);
        EXPECT_EQ(WireHex(list), c.expected) << c.name;
    }
}

TEST(ArgumentList, UnpackHonoursCompatiblePairsOnly)
{
    CArgumentList list;
    list.Pack(4, ARG_STRING, "abc", ARG_UINT16, 7, ARG_CHAR, 'x', ARG_WCHAR, u'y');

    std::optional<std::u16string> wide;
    EXPECT_TRUE(list.Unpack(1, ARG_WSTRING, &wide)); // 10 against a stored 8
    EXPECT_EQ(*wide, u"abc");

    uint32_t u32 = 0;
    uint16_t u16 = 0;
    std::optional<std::string> narrow;
    EXPECT_FALSE(list.Unpack(2, ARG_STRING, &narrow, ARG_UINT32, &u32)); // 5 against a stored 4
    EXPECT_TRUE(list.Unpack(2, ARG_STRING, &narrow, ARG_UINT16, &u16));
    EXPECT_EQ(*narrow, "abc");
    EXPECT_EQ(u16, 7);

    char ch = 0;
    uint16_t wch = 0;
    EXPECT_TRUE(
        list.Unpack(4, ARG_WSTRING, &wide, ARG_UINT16, &u16, ARG_WCHAR, &wch, ARG_CHAR, &ch));
    EXPECT_EQ(wch, u'x');
    EXPECT_EQ(ch, 'y');

    // Counts out of range, unknown codes and a destination of the wrong type all fail.
    EXPECT_FALSE(list.Unpack(0, ARG_WSTRING, &wide));
    EXPECT_FALSE(list.Unpack(5, ARG_WSTRING, &wide, ARG_UINT16, &u16, ARG_WCHAR, &wch, ARG_CHAR,
                             &ch, ARG_UINT8, &ch));
    EXPECT_FALSE(list.Unpack(1, 12, &wide));
    EXPECT_FALSE(list.Unpack(1, ARG_WSTRING, &u32));
}

// Entries are read at the indexes from 0 to the count less one; any other index is refused, not
// read. A list read from the wire holds exactly its entries, nothing behind the last.
TEST(ArgumentList, ReadsOnlyTheIndexesItHolds)
{
    std::string hex = "00 00 00 05";
    for (const char* value : {"01", "02", "03", "04", "05"})
        hex += std::string(" 00 00 00 05 05 00 00 00 ") + value;
    const std::vector<uint8_t> bytes = Bytes(hex);
    CReadCursor c{bytes.data(), bytes.data() + bytes.size()};
    CArgumentList list;
    ASSERT_TRUE(list.Read(c));
    const struct
    {
        int32_t index;
        bool read;
        uint64_t value;
    } cases[] = {{-1, false, 0}, {0, true, 1}, {4, true, 5}, {5, false, 0}, {6, false, 0}};
    for (const auto& row : cases)
    {
        CArgumentList::CReadValue v;
        EXPECT_EQ(list.ReadEntry(row.index, ARG_UINT32, v), row.read) << row.index;
        EXPECT_EQ(v.iValue, row.value) << row.index;
    }
}

} // namespace
