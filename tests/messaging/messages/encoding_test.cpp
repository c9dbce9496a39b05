// SPDX-License-Identifier: MIT
// The exact bytes of every message class and of the primitive encodings, and the strings that
// the wire or a record cannot hold whole.

#include "message.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace
{
// Every message class of the catalogue; "CC CC CC CC" stands for a request's own correlation
// value (that it is the one a response must carry, the connection tests show).
TEST(Encoding, EveryClassSerialisesToTheseBytes)
{
    const uint32_t mask = 0x10;
    const ReceiverRecord r1 = MakeReceiverRecord(7, 1, u"R1");
    CArgumentList toClass, fiveAndAbc, maskAnswer;
    toClass.Pack(2, ARG_UINT32, 0, ARG_WSTRING, u"ab");
    fiveAndAbc.Pack(2, ARG_UINT32, 1, ARG_WSTRING, u"abc");
    maskAnswer.Pack(1, ARG_UINT32, 0x1Eu);
    const struct
    {
        const char* name;
        CRefPtr<IMessage> message;
        std::string expected;
    } cases[] = {
        // clang-format off
        {"Registration", new CRegistrationMessage(1), "00 00 00 01 01 00 00 00 01"},
        {"ClearLog", new CEmptyMessage(ClearLogMessage), "00 00 00 12 01"},
        {"SetLogMask0x10", new CIntegerListMessage(SetLogMaskMessage, 1, &mask), "00 00 00 0C 01 00 00 00 10"},
        {"ReceiverCommandToClass", new CArgumentListMessage(ReceiverCommand, &toClass), "00 00 00 09 01 00 00 00 02 00 00 00 05 05 00 00 00 00 00 00 00 05 0A 00 02 61 62"},
        {"ArgumentListOf5And10", new CArgumentListMessage(40, &fiveAndAbc), "00 00 00 28 01 00 00 00 02 00 00 00 05 05 00 00 00 01 00 00 00 06 0A 00 03 61 62 63"},
        {"GetLogMaskRequest", new CEmptyRequest(GetLogMaskRequest, GetLogMaskResponse), "00 00 00 0E 02 CC CC CC CC"},
        {"GetLogMaskResponse0x1E", new CArgumentListResponse(GetLogMaskResponse, 0x01020304, &maskAnswer), "00 00 00 0F 03 01 02 03 04 00 00 00 01 00 00 00 05 05 00 00 00 1E"},
        {"ReceiverStatusOneRecord", new CReceiverListMessage(ReceiverStatusEvent, &r1, 1), "00 00 00 08 01 00 00 00 01 00 00 00 07 00 00 00 01 00 02 52 31"},
        {"ReceiverStatusNoRecords", new CReceiverListMessage(ReceiverStatusEvent, nullptr, 0), "00 00 00 08 01 00 00 00 00"},
        {"LogFilePathNonAscii", new CStringResponse(GetLogFileResponse, 0xA0B0C0D0, u"/t\u00e9\u20ac"), "00 00 00 0B 03 A0 B0 C0 D0 00 07 2F 74 C3 A9 E2 82 AC"},
        {"NullStringResponse", new CStringResponse(GetLogFileResponse, 9, nullptr), "00 00 00 0B 03 00 00 00 09 00 00"},
        {"ClosingResponse", new CEmptyResponse(ClientClosingResponse, 0xFFFFFFFF), "00 00 00 07 03 FF FF FF FF"},
        // clang-format on
    };
    for (const auto& c : cases)
    {
        CRefPtr<CByteBuffer> bytes;
        c.message->Serialise(bytes);
        ASSERT_TRUE(bytes) << c.name;
        EXPECT_EQ(bytes->GetSize(), c.message->GetSize()) << c.name;
        std::string actual = Hex(bytes.Get());
        if (dynamic_cast<CRequestMessage*>(c.message.Get()))
            actual.replace(15, 11, "CC CC CC CC"); // bytes 5 to 8
        EXPECT_EQ(actual, c.expected) << c.name;
    }
}

// What goes on the wire converts strictly (a failure is no string); what is shown or logged
// converts leniently, each unit or byte that cannot be converted read as U+FFFD.
TEST(TextConversion, StrictFailsWhereLenientReplaces)
{
    const struct
    {
        std::u16string wide;
        std::string utf8;
        bool bStrict; // both ways convert strictly
    } rows[] = {
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80", true},
        {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", true},
        {u"a\xD800z", "a\xEF\xBF\xBDz", false},
        {u"\xDC00\xD83D\xDE00x\xD83D", "\xEF\xBF\xBD\xF0\x9F\x98\x80x\xEF\xBF\xBD", false},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(ToUtf8(row.wide), row.utf8) << row.utf8;
        std::string strict = "old";
        EXPECT_EQ(Utf16ToUtf8(row.wide, strict), row.bStrict) << row.utf8;
        if (row.bStrict)
        {
            EXPECT_EQ(strict, row.utf8);
            EXPECT_EQ(ToUtf16(row.utf8), row.wide) << row.utf8;
        }
    }
    const std::pair<std::string, std::u16string> bytes[] = {
        {"\xC3\x28", u"\uFFFD("},                          // a lead byte without its continuation
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // a surrogate
        {"x\xF0\x9F\x98", u"x\uFFFD\uFFFD\uFFFD"},         // cut at the end
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
        {"\xFF", u"\uFFFD"},                               // never a UTF-8 byte
    };
    for (const auto& [utf8, wide] : bytes)
    {
        std::u16string strict;
        EXPECT_FALSE(Utf8ToUtf16(utf8, strict));
        EXPECT_EQ(ToUtf16(utf8), wide);
        // Read from the wire, such a string is no string.
        std::vector<uint8_t> field = {0, static_cast<uint8_t>(utf8.size())};
        field.insert(field.end(), utf8.begin(), utf8.end());
        CReadCursor c{field.data(), field.data() + field.size()};
        std::optional<std::u16string> text = u"old";
        EXPECT_TRUE(ReadWString(c, text)) << utf8;
        EXPECT_FALSE(text.has_value()) << utf8;
    }
}

// A string longer than the 16-bit length can say is cut at the last whole character.
TEST(PrimitiveEncoding, OverlongStringIsCutAtACharacterBoundary)
{
    std::u16string text(40000, u'\u00e9'); // 80000 UTF-8 bytes
    const std::string wire = WireUtf8(text.c_str());
    EXPECT_EQ(wire.size(), 65534u);
    EXPECT_EQ(WStringSize(text.c_str()), 65536u);
    std::u16string back;
    EXPECT_TRUE(Utf8ToUtf16(wire, back));
    EXPECT_EQ(back.size(), 32767u);
}

// A name longer than a record holds arrives as its first 31 characters.
TEST(RoundTrip, ReceiverNameIsCutTo31Characters)
{
    const std::u16string name40 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    auto bytes = Bytes("00 00 00 08 01 00 00 00 01 00 00 00 07 00 00 00 01 00 28");
    bytes.insert(bytes.end(), name40.begin(), name40.end()); // ASCII: one byte per character
    CRefPtr<CReceiverListMessage> list;
    MakeReceiverListMessage(list, ReceiverStatusEvent, nullptr, 0);
    ASSERT_TRUE(list->Deserialise(BufferOf(bytes).Get()));
    const ReceiverRecord* pRecords = nullptr;
    ASSERT_EQ(list->GetRecords(&pRecords), 1);
    EXPECT_EQ(std::u16string(pRecords[0].szName), name40.substr(0, 31));
}

} // namespace
